.pragma library

// The device's directory as picker entries: a unique key, the name, and what kind of entry it is.

function people(device) {
    return device.people.map(p => ({ key: "u" + p.id, id: p.id, name: p.name, kind: qsTr("person"), type: "person" }));
}

function groups(device) {
    return device.groups.map(g => ({ key: "g" + g.id, id: g.id, name: g.name, dialogId: g.dialogId, kind: qsTr("group"), type: "group" }));
}

function tags(device) {
    return device.dialogTags.map(t => ({ key: "t" + t.id, id: t.id, name: t.name, kind: qsTr("chats tagged"), type: "tag" }));
}

function chats(device) {
    return device.chats.map(c => ({ key: "c" + c.dialogId, dialogId: c.dialogId, name: c.name,
                                     kind: c.group ? qsTr("group chat") : qsTr("chat"), type: "chat" }));
}
