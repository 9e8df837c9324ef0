// The demo's scripted scenario. Each step may have:
//   name        what the report calls it
//   run(demo)   what to do
//   until(demo) a condition to wait for (up to `timeout` ms, 5000 by default)
//   check(demo) checks made once the condition holds; demo.check(ok, text) fails the step when false
//   screenshot  a screen to show and save as <screen>.png
// demo.A and demo.B are the two devices (their models by the account's getter names:
// sharedPreference, privacyModel, settingServiceCmd, deviceModel, account; and online, clockSkew,
// errors, preference(key), writePreference(type, key, value), ringtoneManager, groupMutedSettingModel,
// customRingtoneIds(), wallpaperHandler, wallpaperIds(ownOnly), wallpaperImageHere(id),
// failedWallpaperUploads(), themeHandler, customThemeNames(), themeImageHere(name), recentEmoji,
// recentReactions, statusShortCut, alternativeProfilePhoto, addAlternativePhoto(colour),
// writeStatusShortcuts(descriptions, emoji)); demo.server has the fault controls; demo.tone(name, ms) writes a WAV
// tone, demo.image(name, width, height, colour) a JPEG; demo.setDarkMode(on) switches the app.

var PREVIEW = "random_message_preview";
var FOLDERS = "dialog_folder_config";
var passwordAnswers = [];
var burstBefore = 0;

var steps = [
    {
        name: "Both devices load and synchronise",
        until: function (demo) { return demo.A.ready && demo.B.ready && demo.A.deviceModel.count >= 3; },
        check: function (demo) {
            demo.check(demo.A.deviceModel.count === 3, "A lists itself, B and the phone");
        }
    },
    {
        name: "A preference changed on A arrives on B",
        run: function (demo) { demo.A.sharedPreference.updateRandomMessagePreviewReq(["family", "book-club"]); },
        until: function (demo) { return demo.B.account.randomPreviewDialogs.length === 2; },
        check: function (demo) {
            demo.check(demo.B.preference(PREVIEW) === '["family","book-club"]', "B stores the list A wrote");
            demo.log("B randomises previews in: " + demo.B.account.randomPreviewDialogs.join(", "));
        }
    },
    {
        name: "A conflict resolves the same way on both devices",
        run: function (demo) {
            // Both write before either hears back; B's write is the later one and wins.
            demo.A.writePreference(11, FOLDERS, "folders from A");
            demo.advanceClock(1000);
            demo.B.writePreference(11, FOLDERS, "folders from B");
        },
        until: function (demo) {
            return demo.A.preference(FOLDERS) === "folders from B" && demo.B.preference(FOLDERS) === "folders from B";
        },
        check: function (demo) {
            demo.check(demo.server.preferenceValue(FOLDERS, 11) === "folders from B", "the server keeps B's write");
        },
        screenshot: "preferences"
    },
    {
        name: "A privacy switch is acknowledged, then seen on B",
        run: function (demo) { demo.A.privacyModel.findMeByPhone = true; },
        until: function (demo) { return demo.A.privacyModel.findMeByPhone; },
        check: function (demo) {
            demo.check(demo.server.privacySummary().findMeByPhone, "the server stores the switch");
            demo.B.settingServiceCmd.listPrivacySettings();
        }
    },
    {
        name: "B lists its privacy settings again",
        until: function (demo) { return demo.B.privacyModel.findMeByPhone; }
    },
    {
        name: "An exception list edit on A reaches the server",
        run: function (demo) { demo.A.privacyModel.lastseen.addBlacks([102], [201], []); },
        until: function (demo) { return demo.A.privacyModel.lastseen.blacklist.count === 1; },
        check: function (demo) {
            var summary = demo.server.privacySummary();
            demo.check(summary.lastseenBlacklist[0] === 102, "Bruno is never shown A's last seen");
            demo.check(summary.lastseenGroupBlacklist[0] === 201, "nor is the Family group");
            demo.check(demo.A.privacyModel.lastseen.groupBlacklist.count === 1, "A lists the group");
        }
    },
    {
        name: "B reads its privacy again when the screen is shown",
        run: function (demo) { demo.showScreen("privacy"); },
        until: function (demo) {
            return demo.B.privacyModel.lastseen.blacklist.count === 1 && demo.B.privacyModel.lastseen.groupBlacklist.count === 1;
        },
        screenshot: "privacy"
    },
    {
        name: "A rejected privacy change is reported and changes nothing",
        run: function (demo) {
            demo.server.failCommand(122, 500, 1);
            demo.A.privacyModel.enableStrangerChat = true;
        },
        until: function (demo) { return demo.A.errors.length > 0; },
        check: function (demo) {
            demo.check(demo.A.errors[demo.A.errors.length - 1] === demo.tr("general_fail"), "A shows: " + demo.tr("general_fail"));
            demo.check(!demo.A.privacyModel.enableStrangerChat, "the switch keeps its value");
            demo.check(!demo.server.privacySummary().enableStrangerChat, "the server did not change");
        }
    },
    {
        name: "Devices: the phone is signed out from A",
        run: function (demo) { demo.A.settingServiceCmd.unlinkDevices([3], "correct horse"); },
        until: function (demo) { return demo.A.deviceModel.count === 2; },
        screenshot: "devices"
    },
    {
        name: "Wrong passwords lock two-step verification",
        run: function (demo) {
            demo.B.settingServiceCmd.verifyPasswordFinished.connect(function (code, succ, valid, error) {
                passwordAnswers.push({ code: code, valid: valid, error: error });
            });
            for (var i = 0; i < 5; ++i)
                demo.B.settingServiceCmd.verifyPassword("wrong " + i);
        },
        until: function (demo) { return passwordAnswers.length === 5; },
        check: function (demo) {
            demo.check(!passwordAnswers[0].valid && passwordAnswers[0].error === demo.tr("eslp_enter_again"),
                       "a wrong password asks again: " + passwordAnswers[0].error);
            var last = passwordAnswers[4];
            demo.check(last.code === 2119, "the fifth locks verification (2119)");
            demo.log("B is told: " + last.error);
        }
    },
    {
        name: "Even the right password waits for the lock to end",
        run: function (demo) { demo.B.settingServiceCmd.verifyPassword("correct horse"); },
        until: function (demo) { return passwordAnswers.length === 6; },
        check: function (demo) {
            var answer = passwordAnswers[5];
            demo.check(answer.code === 2119 && answer.error.indexOf("Too many wrong passwords") === 0,
                       "the lock message names when to try again");
            demo.log("B is told: " + answer.error);
        },
        screenshot: "verification"
    },
    {
        name: "A custom ringtone added on A reaches B",
        run: function (demo) { demo.A.ringtoneManager.addRingtoneByPath(demo.tone("doorbell", 1200)); },
        until: function (demo) {
            return demo.A.customRingtoneIds().length === 1 && demo.B.customRingtoneIds().length === 1;
        },
        timeout: 15000,
        check: function (demo) {
            demo.check(demo.A.customRingtoneIds()[0] === demo.B.customRingtoneIds()[0], "both list the same ringtone");
        }
    },
    {
        name: "The Family chat on A rings with it; B plays it from its own download",
        run: function (demo) {
            demo.A.ringtoneManager.setChatRingtone("family", demo.A.customRingtoneIds()[0], true);
        },
        until: function (demo) {
            var normal = demo.B.ringtoneManager.getValidRingtone("family").normal;
            return normal !== undefined && normal.iscustom === true;
        },
        check: function (demo) {
            demo.log("B plays " + demo.B.ringtoneManager.getValidRingtone("family").normal.ringtone);
        }
    },
    {
        name: "A muted-group exception made on A reaches B",
        run: function (demo) {
            demo.showScreen("notifications");
            demo.A.groupMutedSettingModel.updateGroupNotification("climbing", true, true, false);
        },
        until: function (demo) { return demo.B.groupMutedSettingModel.mutedSetting("climbing") !== null; },
        check: function (demo) {
            var exception = demo.B.groupMutedSettingModel.mutedSetting("climbing");
            demo.check(exception.reply && exception.at && !exception.atAll, "B notifies of replies and mentions only");
        },
        screenshot: "notifications"
    },
    {
        name: "Removed on B, the Family chat on A falls back to the system tone",
        run: function (demo) {
            demo.A.ringtoneManager.ringtoneSetting("family");
            demo.advanceClock(1000);
            demo.B.ringtoneManager.deleteRingtone(demo.B.customRingtoneIds()[0]);
        },
        until: function (demo) {
            return demo.A.customRingtoneIds().length === 0 && demo.B.customRingtoneIds().length === 0;
        },
        check: function (demo) {
            var chat = demo.A.ringtoneManager.ringtoneSetting("family");
            demo.check(chat.presetName === "system_ringtone" && !chat.customPriority, "A's Family chat plays the system tone");
        }
    },
    {
        name: "A and B add a ringtone at the same moment; both keep both",
        run: function (demo) {
            demo.A.ringtoneManager.addRingtoneByPath(demo.tone("chime-a", 700));
            demo.B.ringtoneManager.addRingtoneByPath(demo.tone("chime-b", 900));
        },
        until: function (demo) {
            var a = demo.A.customRingtoneIds().slice().sort(), b = demo.B.customRingtoneIds().slice().sort();
            return a.length === 2 && a.join() === b.join();
        },
        timeout: 15000
    },
    {
        name: "A ringtone over ten seconds is refused on A with the reason, and nothing is added",
        run: function (demo) {
            demo.A.ringtoneManager.addRingtoneByPath(demo.tone("long-song", 12000));
        },
        until: function (demo) {
            return demo.A.messages.length > 0 && demo.A.messages[0].text === demo.tr("ringtone_too_long");
        },
        check: function (demo) {
            demo.check(demo.A.messages[0].failure, "shown as a failure, newest first");
            demo.check(demo.A.customRingtoneIds().length === 2, "A keeps its two ringtones");
        },
        screenshot: "notifications-ringtone-too-long"
    },
    {
        name: "A wallpaper added on A appears on B with its image",
        run: function (demo) {
            demo.showScreen("wallpapers");
            demo.A.wallpaperHandler.add(demo.image("harbour", 1600, 1000, "#2B6CB0"));
        },
        until: function (demo) {
            var own = demo.B.wallpaperIds(true);
            return own.length === 1 && demo.B.wallpaperImageHere(own[0]);
        },
        timeout: 15000,
        check: function (demo) {
            demo.check(demo.A.wallpaperIds(true)[0] === demo.B.wallpaperIds(true)[0], "both know it by the server's id");
            demo.log("both list " + demo.A.wallpaperIds(false).length + " wallpapers: their own and the server's presets and patterns");
        }
    },
    {
        name: "An upload that fails on A stays unsynced, marked, until A tries again",
        run: function (demo) {
            demo.server.failCommand(1001, 503, 1);
            demo.A.wallpaperHandler.add(demo.image("meadow", 1200, 900, "#2F855A"));
        },
        until: function (demo) { return demo.A.failedWallpaperUploads() === 1; },
        timeout: 15000,
        check: function (demo) {
            demo.check(demo.A.account.syncState === 2 && demo.A.account.unsentChanges === 1,
                       "A says one change is on its way, not synchronised");
            var marked = demo.A.wallpaperIds(true).filter(function (id) {
                return demo.A.wallpaperHandler.wallpaperModel.getItemById(id).uploadFailed;
            });
            demo.check(marked.length === 1, "the wallpaper is marked as failed, not as uploading");
        },
        screenshot: "wallpapers"
    },
    {
        name: "A syncs: the failed upload goes again and reaches B",
        run: function (demo) { demo.A.sync(); },
        until: function (demo) {
            return demo.A.failedWallpaperUploads() === 0 && demo.B.wallpaperIds(true).length === 2 &&
                   demo.A.account.syncState === 3;
        },
        timeout: 15000
    },
    {
        name: "On a slow connection a picture's upload shows how far it is",
        run: function (demo) {
            demo.server.setLatency(600);
            demo.A.wallpaperHandler.add(demo.image("dunes", 2400, 1600, "#C05621"));
        },
        until: function (demo) {
            var model = demo.A.wallpaperHandler.wallpaperModel;
            for (var i = 0; i < model.count; ++i) {
                var item = model.itemByIndex(i);
                if (item.unsynced && item.hiPhoto && item.hiPhoto.transferState === 2)
                    return true;
            }
            return false;
        },
        timeout: 15000,
        screenshot: "wallpapers-uploading"
    },
    {
        name: "The slow upload finishes and reaches B; the bar goes",
        run: function (demo) { demo.server.setLatency(40); },
        until: function (demo) {
            return demo.A.failedWallpaperUploads() === 0 && demo.B.wallpaperIds(true).length === 3 &&
                   demo.A.account.syncState === 3;
        },
        timeout: 15000,
        check: function (demo) {
            var item = demo.A.wallpaperHandler.wallpaperModel.getItemById(demo.A.wallpaperIds(true)[0]);
            demo.check(item.hiPhoto.transferState === 0 && item.hiPhoto.progress === 1, "the upload is done");
        }
    },
    {
        name: "Dark mode sorts the dark wallpapers first",
        run: function (demo) { demo.setDarkMode(true); },
        until: function (demo) {
            var a = demo.A.wallpaperHandler.wallpaperModel;
            for (var i = 0; i < a.count; ++i) {
                var item = a.itemByIndex(i);
                if (!item.hasPattern)
                    return item.isDark || item.wallpaperId === "preset-night";
            }
            return false;
        },
        screenshot: "wallpapers-dark"
    },
    {
        name: "A delete the server refuses brings the wallpaper back on B, which says why",
        run: function (demo) {
            demo.setDarkMode(false);
            demo.server.failCommand(243, 403, 1);
            demo.B.wallpaperHandler.deleteWallpaper(demo.B.wallpaperIds(true)[0]);
        },
        until: function (demo) {
            return demo.B.wallpaperIds(true).length === 3 &&
                   demo.B.errors[demo.B.errors.length - 1] === demo.tr("wallpaper_delete_refused");
        },
        check: function (demo) {
            demo.check(demo.A.wallpaperIds(true).length === 3, "A still lists all three");
            demo.log("B shows: " + demo.B.errors[demo.B.errors.length - 1]);
        },
        // The refusal, the wallpaper fetched again and its image: several round trips, slow
        // under the sanitizers on a busy machine.
        timeout: 15000,
        screenshot: "wallpapers-refused"
    },
    {
        name: "Deleted on B, the first wallpaper leaves A",
        run: function (demo) {
            demo.setDarkMode(false);
            demo.B.wallpaperHandler.deleteWallpaper(demo.B.wallpaperIds(true)[0]);
        },
        until: function (demo) {
            return demo.A.wallpaperIds(true).length === 2 && demo.B.wallpaperIds(true).length === 2;
        }
    },
    {
        name: "A custom theme made on A appears on B with its wallpaper image",
        run: function (demo) {
            demo.showScreen("themes");
            var themes = demo.A.themeHandler;
            var made = themes.createTheme(themes.themeModel.itemByIndex(2));
            made.name = "Harbour";
            var own = demo.A.wallpaperHandler.wallpaperModel.getItemById(demo.A.wallpaperIds(true)[0]);
            themes.setWallpaper(true, own);
            themes.syncCustomTheme();
        },
        until: function (demo) {
            return demo.B.customThemeNames().indexOf("Harbour") >= 0 && demo.B.themeImageHere("Harbour");
        },
        timeout: 15000
    },
    {
        name: "Edited on B, the change reaches A",
        run: function (demo) {
            demo.advanceClock(1000);
            var themes = demo.B.themeHandler;
            var edit = themes.editTheme(themes.customThemeModel.itemByIndex(0));
            edit.name = "Harbour at dusk";
            edit.light.themeColors = ["#C05621"];
            themes.syncEditTheme();
        },
        until: function (demo) { return demo.A.customThemeNames()[0] === "Harbour at dusk"; },
        check: function (demo) {
            var theme = demo.A.themeHandler.customThemeModel.itemByIndex(0);
            demo.check(theme.light.themeColors[0] === "#C05621", "A shows B's accent colour");
        }
    },
    {
        name: "A burst of colour changes on A goes out once, five seconds after the first",
        run: function (demo) {
            var themes = demo.A.themeHandler;
            themes.currentTheme = themes.themeModel.itemByIndex(0);
            burstBefore = demo.server.requestCount(180);
            themes.updateThemeWithColorCircle(11);
            themes.updateThemeWithColorCircle(12);
            themes.updateThemeWithColorCircle(14);
        },
        until: function (demo) {
            var home = demo.B.themeHandler.themeModel.itemByIndex(0);
            return home.light.themeColors[0] === "#4E73EB";
        },
        timeout: 15000,
        check: function (demo) {
            demo.check(demo.server.requestCount(180) === burstBefore + 1, "three changes, one request");
        },
        screenshot: "themes"
    },
    {
        name: "A gives the Family chat a theme; the server keeps it",
        run: function (demo) {
            var themes = demo.A.themeHandler;
            themes.syncDialogTheme("family", themes.themeModel.itemByIndex(1));
        },
        until: function (demo) {
            return demo.server.chatThemeId("family") === demo.A.themeHandler.themeModel.itemByIndex(1).themeId;
        }
    },
    {
        name: "A reset on A is seen by B",
        run: function (demo) { demo.A.wallpaperHandler.resetWallpaper(); },
        until: function (demo) {
            return demo.A.wallpaperIds(true).length === 0 && demo.B.wallpaperIds(true).length === 0 &&
                demo.server.ownWallpaperCount() === 0;
        },
        check: function (demo) {
            demo.check(demo.A.wallpaperIds(false).join() === demo.B.wallpaperIds(false).join(), "both list the server's defaults in the same order");
        }
    },
    {
        name: "Removed on A, the theme leaves B",
        run: function (demo) {
            var themes = demo.A.themeHandler;
            themes.removeTheme(themes.customThemeModel.itemByIndex(0).themeId);
        },
        until: function (demo) { return demo.B.customThemeNames().length === 0; }
    },
    {
        name: "A uses emoji and reactions; the recent lists keep the newest first",
        run: function (demo) {
            demo.showScreen("emoji");
            ["😀", "🎉", "👍", "🍜"].forEach(function (e) { demo.A.recentEmoji.emojiUsed(e, -1, -1); });
            demo.A.recentEmoji.remove("🎉", -1, -1);
            demo.A.recentReactions.emojiUsed("👍", -1, -1);
        },
        until: function (demo) { return demo.A.recentEmoji.count === 3; },
        check: function (demo) {
            demo.check(demo.A.recentEmoji.get(0) === "🍜", "the last one used is first");
        }
    },
    {
        name: "Status shortcuts written by A are shown on B",
        run: function (demo) { demo.A.writeStatusShortcuts(["In a meeting", "Lunch"], ["📅", "🍜"]); },
        until: function (demo) {
            return demo.B.statusShortCut.shortCutSetting.length === 2 && demo.A.statusShortCut.shortCutSetting.length === 2;
        }
    },
    {
        name: "An alternative photo added on A with an audience appears on B",
        run: function (demo) { demo.A.addAlternativePhoto("#C05621"); },
        until: function (demo) {
            var photos = demo.B.alternativeProfilePhoto;
            return photos.rowCount() === 1 && !demo.A.alternativeProfilePhoto.modifying;
        },
        timeout: 10000
    },
    {
        name: "A shows it to Alice only; B learns the audience",
        run: function (demo) {
            var index = demo.A.alternativeProfilePhoto.index(0, 0);
            demo.A.alternativeProfilePhoto.data(index, 257).setIds([101], []);
        },
        until: function (demo) {
            var photos = demo.B.alternativeProfilePhoto;
            return photos.data(photos.index(0, 0), 257).userList.length === 1;
        }
    },
    {
        name: "B lets non-contacts see an alternative photo; A follows",
        run: function (demo) { demo.B.alternativeProfilePhoto.changeShowToNonContact(true); },
        until: function (demo) { return demo.A.alternativeProfilePhoto.showToNonContact; }
    },
    {
        name: "Without a network, a change to the photos is refused at once",
        run: function (demo) {
            demo.setNetworkReachable(false);
            demo.A.alternativeProfilePhoto.changeShowToNonContact(false);
            demo.followSystemNetwork();
        },
        until: function (demo) { return demo.A.errors.indexOf("There is no network connection.") >= 0; },
        check: function (demo) {
            demo.check(!demo.A.alternativeProfilePhoto.modifying && demo.A.alternativeProfilePhoto.showToNonContact, "nothing changed, nothing waits");
        }
    },
    {
        name: "A change the server refuses is reported in English",
        run: function (demo) {
            demo.server.failCommand(1010, 409, 1);
            demo.A.alternativeProfilePhoto.changeShowToNonContact(false);
        },
        until: function (demo) {
            return demo.A.errors.indexOf("The server did not accept the change to your photos.") >= 0;
        },
        check: function (demo) {
            demo.check(demo.A.alternativeProfilePhoto.showToNonContact, "the photos stay as the server has them");
        },
        screenshot: "emoji"
    },
    {
        name: "The sound settings list this computer's outputs; a test plays on the last one",
        run: function (demo) {
            demo.audio.refreshAudioOutputDevice();
            var outputs = demo.audio.availableOutputDevices();
            if (outputs.length === 0) {
                demo.log("  no audio outputs on this machine: nothing to choose or play");
                return;
            }
            demo.audio.defaultOutputDeviceName = outputs[outputs.length - 1];
            demo.audio.test(outputs[outputs.length - 1]);
        },
        check: function (demo) {
            var outputs = demo.audio.availableOutputDevices();
            demo.check(outputs.length === 0 || demo.audio.defaultOutputDeviceName === outputs[outputs.length - 1],
                       "the chosen output is the one picked");
        }
    },
    {
        name: "The screens list shows every screen of this computer",
        run: function (demo) { demo.screens.init(); },
        check: function (demo) {
            demo.check(demo.screens.screenCount() >= 1, demo.screens.screenCount() + " screen(s) listed");
        },
        screenshot: "sound"
    },
    {
        name: "A signs B out: B says why, lets its data go and stops saying it is synchronised",
        run: function (demo) {
            demo.advanceClock(61 * 60 * 1000); // past the verification lock of the wrong passwords
            demo.server.dropCommand(180, 1);
            demo.B.writePreference(11, FOLDERS, "B's last words");
            demo.A.settingServiceCmd.unlinkDevices([2], "correct horse");
        },
        until: function (demo) { return demo.B.signedOut && demo.A.deviceModel.count === 1; },
        check: function (demo) {
            var said = demo.B.messages[0].text;
            demo.check(said.indexOf("This device was signed out from Desktop A.") === 0, "B says: " + said);
            demo.check(said.indexOf("1 change that had not reached the server was discarded") > 0,
                       "and names the change it could not send");
            demo.check(demo.B.account.syncState === 5, "B's header says signed out");
        },
        screenshot: "devices-signedout"
    },
    {
        name: "B signs in again where nothing can be kept: it says so, and works from the server",
        run: function (demo) {
            demo.B.clearErrors();
            demo.B.signIn(demo.unwritableFolder("blocked"));
        },
        until: function (demo) { return demo.B.ready && demo.B.preference(FOLDERS) === "folders from B"; },
        check: function (demo) {
            demo.check(demo.B.account.storageState === 2, "B knows its folder cannot be written");
            demo.check(demo.B.errors[0] === demo.tr("storage_unwritable"), "B says: " + demo.B.errors[0]);
            demo.B.writePreference(11, FOLDERS, "folders from B, kept by the server only");
        }
    },
    {
        name: "A change on B without a disk still reaches A, and B never claims it is synchronised",
        until: function (demo) { return demo.A.preference(FOLDERS) === "folders from B, kept by the server only"; },
        check: function (demo) {
            demo.check(demo.B.account.syncState === 4, "B's header keeps saying storage trouble");
        },
        screenshot: "preferences-unwritable"
    }
];
