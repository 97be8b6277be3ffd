' The companions driven by name from VBScript, the way a script host (and
' the wallet) reaches them: variables passed by reference, errors trapped.
Dim ini, crypto, rt, path, texts, i, list, count, sealed, opened, key, flag, plain

path = TestDir() & "\wallet.cdw"
Set ini = CreateObject("KORVEX10.clsKorvexINIFileHandler1A")
Set crypto = CreateObject("KORVEX10.clsKorvexCryptographyC")
Set rt = CreateObject("KORVEX11.clsKorvex11RunTimeA")

' Run-time: mode 2 reads the environment.
CheckEqual rt.EnvironGet(2, "CK_TESTDIR"), TestDir(), "EnvironGet reads the variable"
On Error Resume Next
i = rt.EnvironGet(7, "CK_TESTDIR")
CheckFailed "mode 2", "EnvironGet refuses another mode"
On Error GoTo 0

ini.Path = path
texts = Array("", "=", "a=b;c", "[x]", "  blanks  ", "caf" & Chr(233) & " " & Chr(128), ";semi")
ini.Section = "Pocket"
For i = 0 To UBound(texts)
    ini.Key = "card" & i
    ini.Value = texts(i)
Next
Set ini = Nothing
Set ini = CreateObject("KORVEX10.clsKorvexINIFileHandler1A")
ini.Path = path
ini.Section = "POCKET"
For i = 0 To UBound(texts)
    ini.Key = "Card" & i
    CheckEqual ini.Value, texts(i), "value " & i & " reads back through a new object"
Next

' Enumeration: names at 1..UBound, the count agrees.
ini.Section = "Second"
ini.Key = "k"
ini.Value = "v"
list = Empty
count = 0
ini.EnumerateAllSections list, count
CheckEqual count, 2, "two sections counted"
CheckEqual UBound(list), 2, "upper bound is the count"
CheckEqual list(1), "Pocket", "first section keeps its first spelling"
CheckEqual list(2), "Second", "second section"
list = Empty
count = 0
ini.Section = "Pocket"
ini.EnumerateCurrentSection list, count
CheckEqual count, UBound(texts) + 1, "cards counted"
CheckEqual list(1), "card0", "first card"
CheckEqual list(count), "card" & UBound(texts), "last card at the upper bound"
list = Empty
count = 0
ini.Section = "No such pocket"
ini.EnumerateCurrentSection list, count
CheckEqual count, 0, "a missing section counts 0"

' What the file cannot hold is refused and nothing changes.
Dim before
before = ReadUnicodeFile(path)
On Error Resume Next
ini.Section = "bad]name"
ini.Key = "k"
ini.Value = "v"
CheckFailed "]", "a section name with ] is refused"
ini.Section = "Pocket"
ini.Key = "a=b"
ini.Value = "v"
CheckFailed "=", "a key name with = is refused"
ini.Key = ""
ini.Value = "v"
CheckFailed "empty", "an empty key name is refused"
ini.Key = "k"
ini.Value = "line" & vbCrLf & "break"
CheckFailed "line", "a value with a line break is refused"
On Error GoTo 0
CheckEqual ReadUnicodeFile(path), before, "the file is unchanged after the refusals"

' Sealing: by-reference variables, exact round trips, tampering refused.
key = "kbTorVan"
flag = True
For i = 0 To UBound(texts)
    plain = texts(i)
    sealed = crypto.Encrypt(plain, key, flag)
    Check Left(sealed, 3) = "v1:", "sealed text " & i & " has the version prefix"
    CheckEqual crypto.Decrypt(sealed, key, flag), texts(i), "sealed text " & i & " opens"
    CheckEqual plain, texts(i), "the caller's variable is unchanged"
Next
CheckEqual crypto.Decrypt("", key, flag), "", "the empty text opens to the empty text"
plain = "secret"
sealed = crypto.Encrypt(plain, key, flag)
Dim tampered
If Mid(sealed, 10, 1) = "A" Then tampered = Left(sealed, 9) & "B" & Mid(sealed, 11) Else tampered = Left(sealed, 9) & "A" & Mid(sealed, 11)
On Error Resume Next
opened = crypto.Decrypt(tampered, key, flag)
CheckFailed "", "a tampered sealed text is refused"
opened = crypto.Decrypt("not sealed at all", key, flag)
CheckFailed "", "a plain text is refused"
flag = False
opened = crypto.Encrypt(plain, key, flag)
CheckFailed "True", "flag False is refused"
On Error GoTo 0
