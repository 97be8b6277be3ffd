' A VBScript host of cardkeep: its application object, its wallet, a card.
Class NotesApp
    Public Property Get ProductName: ProductName = "Notes": End Property
    Public Property Get Title: Title = "Notes Desk": End Property
    Public Property Get Major: Major = 1: End Property
    Public Property Get Minor: Minor = 4: End Property
End Class

Dim wallet, pocket, card, info
Set wallet = CreateObject("cardkeep.clsWALLETA")
Set wallet.AppObject = New NotesApp         ' opens (or creates) the wallet
pocket = "Bank": card = "PIN": info = "1234"
wallet.SetCard pocket, card, info           ' variables: the parameters are by reference
WScript.Echo "PIN: " & wallet.GetCard(pocket, card)

On Error Resume Next                        ' failures are ordinary script errors
pocket = "no ] allowed"
wallet.SetCard pocket, card, info
WScript.Echo "error: " & Err.Source & ": " & Err.Description
