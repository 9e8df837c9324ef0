// A device that was offline misses the push and catches up by listing from its offset.
var steps = [
    { name: "Start", until: function (demo) { return demo.A.ready && demo.B.ready; } },
    { name: "B goes offline, A writes",
      run: function (demo) { demo.B.online = false; demo.A.writePreference(11, "dialog_folder_config", "v2"); },
      until: function (demo) { return demo.server.preferenceValue("dialog_folder_config", 11) === "v2"; },
      check: function (demo) { demo.check(demo.B.preference("dialog_folder_config") === "", "B has not heard of it"); } },
    { name: "B comes back and lists from its offset",
      run: function (demo) { demo.B.online = true; demo.B.sync(); },
      until: function (demo) { return demo.B.preference("dialog_folder_config") === "v2"; },
      screenshot: "preferences" }
];
