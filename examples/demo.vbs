' A host application's session with its wallet.
'
' A host hands cardkeep its application object; the wallet lives in
' <root>\<ProductName>\<Title>\<Major>.<Minor>\wallet.cdw, where <root> is
' the folder named by the environment variable QZENVSLOCALPRO.

' The host's application object: four members, read by name.
Class SampleHost
    Public Property Get ProductName: ProductName = "Sample Ledger": End Property
    Public Property Get Title: Title = "Ledger Pro": End Property
    Public Property Get Major: Major = 2: End Property
    Public Property Get Minor: Minor = 1: End Property
End Class

Dim wallet, host, pocket, card, info, oldPassword, newPassword, hint

Set wallet = CreateObject("cardkeep.clsWALLETA")
Set host = New SampleHost
' Opening the wallet. On a first run there is no wallet file yet: the
' component says so in a message box, then creates the file.
Set wallet.AppObject = host

WScript.Echo "Wallet folder: " & wallet.WalletFolder
WScript.Echo "Wallet file:   " & wallet.WalletPath
WScript.Echo ""

' Cards live in pockets; both are created on first use.
pocket = "Bank"
card = "Online banking": info = "user 4711, PIN on the yellow note"
wallet.SetCard pocket, card, info
card = "Safe": info = "left 12, right 40, left 7"
wallet.SetCard pocket, card, info
pocket = "Home"
card = "Wi-Fi": info = "network cardkeep-demo; key = ;[not=a]section;"
wallet.SetCard pocket, card, info

' Reading them back.
Dim pockets, cards, p, c
pockets = Array("Bank", "Bank", "Home")
cards = Array("Online banking", "Safe", "Wi-Fi")
For p = 0 To UBound(pockets)
    pocket = pockets(p): card = cards(p)
    WScript.Echo pocket & " / " & card & ": " & wallet.GetCard(pocket, card)
Next
WScript.Echo ""

' The password and its hint: the two given passwords must agree.
oldPassword = "correct horse": newPassword = "correct horse": hint = "the stable"
wallet.ChangePassword oldPassword, newPassword, hint
WScript.Echo "Password and hint stored."
WScript.Echo ""

' What the file holds: every value but the time stamp is sealed.
Dim fso, stream
Set fso = CreateObject("Scripting.FileSystemObject")
Set stream = fso.OpenTextFile(wallet.WalletPath, 1, False, -1)
WScript.Echo "The wallet file as stored:"
WScript.Echo stream.ReadAll
stream.Close
