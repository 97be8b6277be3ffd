// A JScript host: its application object is a JScript object, whose
// properties the wallet reads by name.
var fso = new ActiveXObject("Scripting.FileSystemObject");
// The runner points QZENVSLOCALPRO at a folder of the test's own.
var root = testDir() + "\\Apps LOCAL";

var host = { ProductName: "Notes", Title: "Notes Desk", Major: 1, Minor: 0 };
var wallet = new ActiveXObject("cardkeep.clsWALLETA");
wallet.AppObject = host;
checkEqual(wallet.PAVString, "Notes\\Notes Desk\\1.0", "Major 1 and Minor 0 give 1.0");
checkEqual(wallet.WalletPath, root.toLowerCase() + "\\Notes\\Notes Desk\\1.0\\wallet.cdw", "WalletPath");

var texts = ["plain", "a=b;c[d]", " blanks ", String.fromCharCode(0x4e2d, 0x6587, 0xd83d, 0xde00), ""];
for (var i = 0; i < texts.length; i++) {
    checkEqual(wallet.SetCard("Pocket " + String.fromCharCode(0x20ac), "card " + i, texts[i]), 1, "SetCard " + i);
}
for (var i = 0; i < texts.length; i++) {
    checkEqual(wallet.GetCard("Pocket " + String.fromCharCode(0x20ac), "card " + i), texts[i], "GetCard " + i);
}
checkThrows(function () { wallet.SetCard("", "card", "x"); }, "empty", "errors reach JScript with their description");
