' Checking helpers for the test scripts (put before every script).
Dim gPassed, gFailed, gEnv
gPassed = 0
gFailed = 0
Set gEnv = CreateObject("WScript.Shell").Environment("PROCESS")

Sub Check(condition, what)
    If condition Then
        gPassed = gPassed + 1
    Else
        gFailed = gFailed + 1
        WScript.Echo "FAIL: " & what
    End If
End Sub

Function IsNumberType(v)
    Select Case VarType(v)
        Case 2, 3, 4, 5, 6, 14, 17: IsNumberType = True
        Case Else: IsNumberType = False
    End Select
End Function

' Equal values of one kind: numbers of any width compare by value, anything
' else must also be of the same type (so "" is not Empty and 1 is not "1").
Sub CheckEqual(actual, expected, what)
    Dim sameKind
    sameKind = (VarType(actual) = VarType(expected)) Or (IsNumberType(actual) And IsNumberType(expected))
    If sameKind And actual = expected Then
        gPassed = gPassed + 1
    Else
        gFailed = gFailed + 1
        WScript.Echo "FAIL: " & what & ": got [" & actual & "] (type " & VarType(actual) & "), expected [" & expected & "] (type " & VarType(expected) & ")"
    End If
End Sub

' After a statement run under On Error Resume Next: it must have failed,
' with a description that contains the given text.
Sub CheckFailed(descriptionPart, what)
    If Err.Number = 0 Then
        gFailed = gFailed + 1
        WScript.Echo "FAIL: " & what & ": no error was raised"
    ElseIf InStr(1, Err.Description, descriptionPart, vbTextCompare) = 0 Then
        gFailed = gFailed + 1
        WScript.Echo "FAIL: " & what & ": error " & Hex(Err.Number) & " '" & Err.Description & "'"
    Else
        gPassed = gPassed + 1
    End If
    Err.Clear
End Sub

Sub CheckNoError(what)
    If Err.Number <> 0 Then
        gFailed = gFailed + 1
        WScript.Echo "FAIL: " & what & ": error " & Hex(Err.Number) & " " & Err.Source & ": " & Err.Description
    Else
        gPassed = gPassed + 1
    End If
    Err.Clear
End Sub

Function TestDir()
    TestDir = gEnv("CK_TESTDIR")
End Function

' The whole text of a UTF-16 file, as the wallet files are written.
Function ReadUnicodeFile(path)
    Dim fso, stream
    Set fso = CreateObject("Scripting.FileSystemObject")
    Set stream = fso.OpenTextFile(path, 1, False, -1)
    If stream.AtEndOfStream Then ReadUnicodeFile = "" Else ReadUnicodeFile = stream.ReadAll
    stream.Close
End Function

' --- the script ---
