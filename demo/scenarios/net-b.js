// Device B of a user, a process of its own against the server process (tst_netdevices runs it
// with device A): a wallpaper with its file, A's edits arriving, the server killed and restarted
// by the test, and the state both devices must end in. This process's one device is demo.A.
var FOLDERS = "dialog_folder_config";
var LONG = 120000;

function state(device) {
    return "state folders=" + device.preference(FOLDERS) + " findMeByPhone=" + device.privacyModel.findMeByPhone +
           " ringtones=" + device.customRingtoneIds().length + " wallpapers=" + device.wallpaperIds(true).length + " themes=" + device.customThemeNames().join(",");
}

var steps = [
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
