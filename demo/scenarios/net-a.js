// Device A of a user, a process of its own against the server process (tst_netdevices runs it
// with device B): its edits, the server killed under it and restarted by the test, an edit while
// the server is away, and the state both devices must end in.
var FOLDERS = "dialog_folder_config";
var LONG = 120000;

function state(device) {
    return "state folders=" + device.preference(FOLDERS) + " findMeByPhone=" + device.privacyModel.findMeByPhone +
           " ringtones=" + device.customRingtoneIds().length + " wallpapers=" + device.wallpaperIds(true).length + " themes=" + device.customThemeNames().join(",");
}

var steps = [
    { name: "A is ready", until: function (demo) { return demo.A.ready; }, timeout: LONG },
    {
        name: "A edits: folders, a privacy switch, a ringtone",
        run: function (demo) {
            demo.A.writePreference(11, FOLDERS, "from A");
            demo.A.privacyModel.findMeByPhone = true;
            demo.A.ringtoneManager.addRingtoneByPath(demo.tone("net-bell", 800));
        },
        until: function (demo) {
            return demo.A.privacyModel.findMeByPhone && demo.A.customRingtoneIds().length === 1 &&
                   demo.A.account.unsentChanges === 0;
        },
        timeout: LONG
    },
    {
        name: "A has B's wallpaper with its image and B's theme",
        until: function (demo) {
            var own = demo.A.wallpaperIds(true);
            return own.length === 1 && demo.A.wallpaperImageHere(own[0]) &&
                   demo.A.customThemeNames().indexOf("Net harbour") >= 0;
        },
        timeout: LONG
    },
    { name: "A sees the server go", until: function (demo) { return !demo.A.online; }, timeout: LONG },
    {
        name: "A edits while the server is away",
        run: function (demo) { demo.A.writePreference(11, FOLDERS, "A while the server was away"); },
        until: function (demo) { return demo.A.account.unsentChanges > 0; }
    },
    {
        name: "A is back and its edit reached the server",
        until: function (demo) {
            return demo.A.online && demo.A.account.unsentChanges === 0 &&
                   demo.A.preference(FOLDERS) === "A while the server was away";
        },
        timeout: LONG
    },
    { name: "A's end", run: function (demo) { demo.log(state(demo.A)); } }
];
