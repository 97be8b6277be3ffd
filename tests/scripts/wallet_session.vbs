' A host's whole session with its wallet, written as a VBScript host would
' write it: its application object is a VBScript class, its arguments are
' script variables, and message boxes are answered by the robot.
Class LedgerHost
    Public Property Get ProductName: ProductName = "Ledger": End Property
    Public Property Get Title: Title = "LedgerPro": End Property
    ' A function serves as well as a property.
    Public Function Major: Major = 3: End Function
    Public Property Get Minor: Minor = 10: End Property
End Class

Dim fso, root, wallet, host, pocket, card, info, texts, i, text, boxes, a, b, h, result
Set fso = CreateObject("Scripting.FileSystemObject")
' The runner points QZENVSLOCALPRO at this folder.
root = TestDir() & "\Apps LOCAL"
CheckEqual gEnv("QZENVSLOCALPRO"), root, "the wallet root"

Set wallet = CreateObject("cardkeep.clsWALLETA")
Check wallet.AppObject Is Nothing, "AppObject is Nothing before it is assigned"
CheckEqual wallet.WalletPath, "", "WalletPath is empty before initialisation"
Set host = New LedgerHost
Set wallet.AppObject = host

CheckEqual wallet.LocalProgramsPath, LCase(root), "the root is lower-cased"
CheckEqual wallet.PAVString, "Ledger\LedgerPro\3.10", "product, title and version keep their case; 3 and 10 give 3.10"
CheckEqual wallet.WalletFolder, LCase(root) & "\Ledger\LedgerPro\3.10", "WalletFolder"
CheckEqual wallet.WalletPath, LCase(root) & "\Ledger\LedgerPro\3.10\wallet.cdw", "WalletPath"
Check fso.FolderExists(root & "\Ledger\LedgerPro\3.10"), "the folder chain exists"
Check fso.FileExists(wallet.WalletPath), "the file exists after the first initialisation"
Check wallet.AppObject Is host, "AppObject returns the host's object"
boxes = Split(RobotLog(), vbCrLf)
CheckEqual boxes(0), "Invalid Wallet|Wallet file does not exists on this computer|OK", "the first-run warning"

' A second initialisation shows no warning.
wallet.InitialiseWallet
CheckEqual UBound(Split(Trim(RobotLog()), vbCrLf)), 0, "no second warning"

' Cards with awkward texts round-trip and are sealed in the file.
texts = Array("plain", "a=b", ";semi", "[brackets]", "  blanks  ", "caf" & Chr(233), "")
pocket = "Bank"
For i = 0 To UBound(texts)
    card = "card " & i
    info = texts(i)
    CheckEqual wallet.SetCard(pocket, card, info), 1, "SetCard returns 1"
    CheckEqual info, texts(i), "the information variable is unchanged"
Next
For i = 0 To UBound(texts)
    card = "card " & i
    CheckEqual wallet.GetCard(pocket, card), texts(i), "card " & i & " reads back"
Next
card = "card 0": info = "replaced"
wallet.SetCard pocket, card, info
CheckEqual wallet.GetCard(pocket, card), "replaced", "a second SetCard replaces the card"
text = ReadUnicodeFile(wallet.WalletPath)
Check InStr(text, "replaced") = 0 And InStr(text, "[brackets]") = 0, "no information stands in the file in plain text"
Check InStr(text, "card 1=v1:") > 0, "the card is stored sealed"
Check InStr(text, "NOW=") > 0, "the time stamp is stored"

pocket = "Wallets": card = "hidden": info = "still here"
wallet.SetCard pocket, card, info
CheckEqual wallet.GetCard(pocket, card), "still here", "a pocket named like the wallet keeps its cards"
CheckEqual wallet.SetPocket(pocket), 1, "SetPocket returns 1"

' Passwords: a mismatch is told and writes nothing; equal ones are stored.
text = ReadUnicodeFile(wallet.WalletPath)
a = "Secret": b = "secret": h = "hint"
result = wallet.ChangePassword(a, b, h)
Check IsEmpty(result), "ChangePassword returns Empty on a mismatch"
boxes = Split(Trim(RobotLog()), vbCrLf)
CheckEqual boxes(UBound(boxes)), "Invalid Password|OldPassword and NewPassword does not match.|OK", "the mismatch message"
CheckEqual ReadUnicodeFile(wallet.WalletPath), text, "a mismatch writes nothing"
b = "Secret"
result = wallet.ChangePassword(a, b, h)
Check IsEmpty(result), "ChangePassword returns Empty when it stores"
text = ReadUnicodeFile(wallet.WalletPath)
Check InStr(text, "PASSWORD=v1:") > 0 And InStr(text, "HINT=v1:") > 0, "password and hint stored sealed"

' Errors reach the script with the wallet as their source.
On Error Resume Next
pocket = "Bad]pocket": card = "x": info = "line" & vbCrLf & "break"
wallet.SetCard pocket, card, info
CheckFailed "]", "a pocket name the file cannot hold is refused"
pocket = "Bank": card = "": info = "x"
wallet.SetCard pocket, card, info
CheckFailed "empty", "an empty card name is refused"
On Error GoTo 0

' A missing root folder: the first three properties are set, then it fails.
Dim other
Set wallet = Nothing
fso.DeleteFolder root, True
Check Not fso.FolderExists(root), "the root folder is gone"
Set other = CreateObject("cardkeep.clsWALLETA")
On Error Resume Next
Set other.AppObject = host
CheckFailed "cannot be created", "a missing root fails the assignment"
On Error GoTo 0
CheckEqual other.LocalProgramsPath, LCase(root), "LocalProgramsPath is set before the failure"
CheckEqual other.PAVString, "Ledger\LedgerPro\3.10", "PAVString is set before the failure"
CheckEqual other.WalletFolder, LCase(root) & "\Ledger\LedgerPro\3.10", "WalletFolder is set before the failure"
CheckEqual other.WalletPath, "", "WalletPath is not"
Check other.AppObject Is host, "AppObject holds the new reference"
