// Checking helpers for the test scripts (put before every script).
var gPassed = 0, gFailed = 0;
var gEnv = new ActiveXObject("WScript.Shell").Environment("PROCESS");
function check(condition, what) {
    if (condition) { gPassed++; } else { gFailed++; WScript.Echo("FAIL: " + what); }
}
function checkEqual(actual, expected, what) {
    if (actual === expected) { gPassed++; }
    else { gFailed++; WScript.Echo("FAIL: " + what + ": got [" + actual + "], expected [" + expected + "]"); }
}
function checkThrows(fn, descriptionPart, what) {
    try { fn(); gFailed++; WScript.Echo("FAIL: " + what + ": no error was raised"); }
    catch (e) {
        if (String(e.description).indexOf(descriptionPart) >= 0) { gPassed++; }
        else { gFailed++; WScript.Echo("FAIL: " + what + ": error '" + e.description + "'"); }
    }
}
function testDir() { return gEnv("CK_TESTDIR"); }
// --- the script ---
