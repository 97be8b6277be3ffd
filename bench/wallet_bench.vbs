' GetCard and SetCard calls per second from a script host, late bound, on
' the wallet that `wallet_bench --prepare` wrote under QZENVSLOCALPRO.
' Prints one line "RESULT cards=N getcard_per_s=X getcard_n=N setcard_per_s=Y
' setcard_n=N" that tools/bench.sh turns into CSV, or "ERROR ..." lines.
' cscript under Wine reports no script error by itself: errors are trapped
' here and the exit code says whether the figures are worth anything.
Option Explicit

Class BenchHost
    Public Property Get ProductName: ProductName = "Bench": End Property
    Public Property Get Title: Title = "WalletBench": End Property
    Public Property Get Major: Major = 1: End Property
    Public Property Get Minor: Minor = 0: End Property
End Class

Dim cards, wallet, host, pocket, card, info, k, i, t0, elapsed, gets, sets, failures, getRate, setRate

cards = 10000
If WScript.Arguments.Count > 0 Then cards = CLng(WScript.Arguments(0))
failures = 0

Function PocketName(n)
    PocketName = "Pocket" & Right("00000" & (n \ 100), 5)
End Function

Function CardName(n)
    CardName = "card" & Right("000000" & n, 6)
End Function

' Seconds since t0; Timer starts again at midnight.
Function Since(t0)
    Since = Timer - t0
    If Since < 0 Then Since = Since + 86400
End Function

' A small generator of card numbers, the same in every run.
Function NextCard(k)
    NextCard = (k * 69069 + 1) Mod cards
End Function

Sub Fail(what)
    WScript.Echo "ERROR " & what & ": " & Err.Number & " " & Err.Description
    failures = failures + 1
    Err.Clear
End Sub

On Error Resume Next
Set wallet = CreateObject("cardkeep.clsWALLETA")
If Err.Number <> 0 Then Fail "creating cardkeep.clsWALLETA": WScript.Quit 1
Set host = New BenchHost
Set wallet.AppObject = host
If Err.Number <> 0 Then Fail "assigning AppObject": WScript.Quit 1

' Warm up, then as many reads as fit in about two seconds.
k = 1
For i = 1 To 200
    k = NextCard(k)
    pocket = PocketName(k): card = CardName(k)
    info = wallet.GetCard(pocket, card)
Next
gets = 0
t0 = Timer
Do
    For i = 1 To 500
        k = NextCard(k)
        pocket = PocketName(k): card = CardName(k)
        info = wallet.GetCard(pocket, card)
        If Err.Number <> 0 Then Fail "GetCard " & card: WScript.Quit 1
        If info <> "information of card " & k Then
            WScript.Echo "ERROR GetCard " & card & " gave '" & info & "'"
            WScript.Quit 1
        End If
    Next
    gets = gets + 500
    elapsed = Since(t0)
Loop While elapsed < 2
getRate = gets / elapsed

' Replacing cards: each one rewrites the whole file durably.
sets = 0
t0 = Timer
Do
    k = NextCard(k)
    pocket = PocketName(k): card = CardName(k): info = "replaced by the script " & sets
    If wallet.SetCard(pocket, card, info) <> 1 Then Fail "SetCard " & card: WScript.Quit 1
    If Err.Number <> 0 Then Fail "SetCard " & card: WScript.Quit 1
    sets = sets + 1
    elapsed = Since(t0)
Loop While elapsed < 2 Or sets < 10
setRate = sets / elapsed
If wallet.GetCard(pocket, card) <> info Then WScript.Echo "ERROR the last SetCard does not read back": WScript.Quit 1

WScript.Echo "RESULT cards=" & cards & " getcard_per_s=" & Round(getRate) & " getcard_n=" & gets & _
    " setcard_per_s=" & Round(setRate, 1) & " setcard_n=" & sets
WScript.Quit failures
