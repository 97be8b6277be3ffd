' The robot as script tests use it (run-script.sh with CK_ROBOT=1): every
' box is answered, with Yes for "Sure...", with what CK_ROBOT_ANSWERS says
' for the titles it names, with OK otherwise, and logged before it closes.
Dim answer, lines

CheckEqual RobotLog(), "", "nothing logged before the first box"

answer = MsgBox("Go ahead?", vbYesNo + vbQuestion, "Sure...")
CheckEqual answer, vbYes, "Sure... is answered Yes"
CheckEqual RobotLog(), "Sure...|Go ahead?|Yes", "the box is logged by the time it returns"

answer = MsgBox("Remove the card?", vbYesNo, "Remove card")
CheckEqual answer, vbNo, "a title from CK_ROBOT_ANSWERS gets its own button"

answer = MsgBox("Caf" & Chr(233) & " opened" & vbCrLf & "second line", vbOKOnly + vbExclamation, "Notice")
CheckEqual answer, vbOK, "any other title is answered OK"

lines = Split(RobotLog(), vbCrLf)
CheckEqual UBound(lines), 2, "three boxes, three lines"
If UBound(lines) = 2 Then
    CheckEqual lines(1), "Remove card|Remove the card?|No", "the second box"
    CheckEqual lines(2), "Notice|Caf" & Chr(233) & " opened\nsecond line|OK", "the third box, accent and line break kept"
End If
