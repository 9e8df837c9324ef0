.pragma library

// Names a person recognises for colours and wallpapers, which carry none of their own.

function hsl(name) {
    // "#RRGGBB" or "#AARRGGBB", as the module names colours.
    const hex = name.length === 9 ? name.substr(3) : name.substr(1);
    const r = parseInt(hex.substr(0, 2), 16) / 255, g = parseInt(hex.substr(2, 2), 16) / 255, b = parseInt(hex.substr(4, 2), 16) / 255;
    const max = Math.max(r, g, b), min = Math.min(r, g, b), l = (max + min) / 2;
    if (max === min)
        return { h: 0, s: 0, l: l };
    const d = max - min;
    const s = l > 0.5 ? d / (2 - max - min) : d / (max + min);
    let h = max === r ? (g - b) / d + (g < b ? 6 : 0) : max === g ? (b - r) / d + 2 : (r - g) / d + 4;
    return { h: h * 60, s: s, l: l };
}

function colorName(name) {
    if (!name || name.length < 7)
        return qsTr("grey");
    const c = hsl(name);
    if (c.s < 0.15)
        return c.l > 0.85 ? qsTr("white") : c.l < 0.2 ? qsTr("black") : qsTr("grey");
    const hues = [[15, qsTr("red")], [40, qsTr("orange")], [65, qsTr("yellow")], [160, qsTr("green")], [195, qsTr("teal")],
                  [255, qsTr("blue")], [290, qsTr("purple")], [335, qsTr("pink")], [360, qsTr("red")]];
    const hue = hues.find(entry => c.h < entry[0])[1];
    return c.l < 0.3 ? qsTr("dark %1").arg(hue) : c.l > 0.8 ? qsTr("pale %1").arg(hue) : hue;
}

function colorsName(colors) {
    const names = [];
    for (let i = 0; i < colors.length; ++i) {
        const name = colorName(colors[i]);
        if (names.indexOf(name) < 0)
            names.push(name);
    }
    return names.length === 0 ? qsTr("grey") : names.slice(0, 2).join(qsTr(" and "));
}

function capitalised(text) {
    return text.length > 0 ? text.charAt(0).toUpperCase() + text.slice(1) : text;
}

function wallpaperName(item) {
    if (!item)
        return qsTr("None");
    if (item.isOwner)
        return qsTr("Your picture");
    const colours = colorsName(item.bgColors);
    if (item.hasPattern)
        return qsTr("Pattern on %1").arg(colours);
    return item.bgColors.length > 0 ? capitalised(colours) : qsTr("Picture from the server");
}
