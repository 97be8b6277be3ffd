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

' The message boxes the robot answered so far (run-script.sh --robot), one
' "title|text|button" line each, joined by vbCrLf with no line break after
' the last; "" before the first box. Line breaks inside a message read as
' "\n". The robot writes UTF-8: letters up to U+00FF come back as
' themselves, anything beyond as "?".
Function RobotLog()
    Dim fso, path, stream, raw
    path = gEnv("CK_ROBOTLOG")
    RobotLog = ""
    If path = "" Then
        gFailed = gFailed + 1
        WScript.Echo "FAIL: RobotLog: no robot runs for this script (run it with CK_ROBOT=1)"
        Exit Function
    End If
    Set fso = CreateObject("Scripting.FileSystemObject")
    If Not fso.FileExists(path) Then Exit Function
    Set stream = fso.OpenTextFile(path, 1, False, 0)
    If stream.AtEndOfStream Then raw = "" Else raw = stream.ReadAll
    stream.Close
    raw = Utf8Latin1(raw)
    Do While Len(raw) > 0
        If Right(raw, 1) <> vbCr And Right(raw, 1) <> vbLf Then Exit Do
        raw = Left(raw, Len(raw) - 1)
    Loop
    RobotLog = raw
End Function

' UTF-8 read one byte per character, decoded as far as Chr can go (this
' VBScript has no ChrW).
Function Utf8Latin1(bytes)
    Dim out, i, n, c, lead, need, code
    out = ""
    i = 1
    n = Len(bytes)
    Do While i <= n
        c = Asc(Mid(bytes, i, 1))
        If c < &H80 Then
            out = out & Mid(bytes, i, 1)
            i = i + 1
        Else
            If c >= &HF0 Then
                need = 3
            ElseIf c >= &HE0 Then
                need = 2
            ElseIf c >= &HC0 Then
                need = 1
            Else
                need = 0
            End If
            lead = c
            code = -1
            If need = 1 And i + 1 <= n Then
                c = Asc(Mid(bytes, i + 1, 1))
                If c >= &H80 And c < &HC0 Then code = (lead And &H1F) * 64 + (c And &H3F)
            End If
            If code >= &HA0 And code <= &HFF Then
                out = out & Chr(code)
            Else
                out = out & "?"
            End If
            i = i + 1 + need
        End If
    Loop
    Utf8Latin1 = out
End Function

' --- the script ---
