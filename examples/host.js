// A JScript host of cardkeep: any object with the four members will do.
var app = { ProductName: "Notes", Title: "Notes Desk", Major: 1, Minor: 4 };
var wallet = new ActiveXObject("cardkeep.clsWALLETA");
wallet.AppObject = app;                      // opens (or creates) the wallet
wallet.SetCard("Bank", "PIN", "1234");
WScript.Echo("PIN: " + wallet.GetCard("Bank", "PIN"));
try {
    wallet.SetCard("no ] allowed", "PIN", "1234");
} catch (e) {
    WScript.Echo("error: " + e.description);
}
