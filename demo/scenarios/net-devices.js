// One device of a user, a process of its own against the server process: tst_netserver runs it
// as device A and as device B (this process's one device is demo.A either way). Edits on both,
// the server killed and restarted by the test, an edit on A while the server is away, and the
// state both devices must end in (logged as one "state" line).
var FOLDERS = "dialog_folder_config";
var LONG = 120000;

function state(device) {
    return "state folders=" + device.preference(FOLDERS) + " findMeByPhone=" + device.privacyModel.findMeByPhone +
           " ringtones=" + device.customRingtoneIds().length + " wallpapers=" + device.wallpaperIds(true).length +
           " themes=" + device.customThemeNames().join(",");
}

var stepsOfA = [
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

var stepsOfB = [
    { name: "B is ready", until: function (demo) { return demo.A.ready; }, timeout: LONG },
    {
        name: "B adds a wallpaper and a theme",
        run: function (demo) {
            demo.A.wallpaperHandler.add(demo.image("net-harbour", 800, 500, "#2B6CB0"));
            var themes = demo.A.themeHandler;
            var made = themes.createTheme(themes.themeModel.itemByIndex(2));
            made.name = "Net harbour";
            themes.syncCustomTheme();
        },
        until: function (demo) {
            return demo.A.wallpaperIds(true).length === 1 && demo.A.failedWallpaperUploads() === 0 &&
                   demo.A.customThemeNames().indexOf("Net harbour") >= 0 && demo.A.account.unsentChanges === 0;
        },
        timeout: LONG
    },
    {
        // A's privacy switch reaches B when B lists privacy again (after the restart).
        name: "B has A's edits",
        until: function (demo) {
            return demo.A.preference(FOLDERS) === "from A" && demo.A.customRingtoneIds().length === 1;
        },
        timeout: LONG
    },
    { name: "B sees the server go", until: function (demo) { return !demo.A.online; }, timeout: LONG },
    {
        name: "B is back and has what A wrote while the server was away",
        until: function (demo) {
            return demo.A.online && demo.A.preference(FOLDERS) === "A while the server was away" &&
                   demo.A.privacyModel.findMeByPhone;
        },
        timeout: LONG
    },
    { name: "B's end", run: function (demo) { demo.log(state(demo.A)); } }
];

var steps = demo.A.name === "A" ? stepsOfA : stepsOfB;
