pragma Singleton
import QtQuick

// The demo's colours for the app's light or dark mode; the window sets `dark`.
QtObject {
    property bool dark: false
    readonly property color window: dark ? "#10151C" : "#E9EDF2"
    readonly property color base: dark ? "#1A212B" : "white"
    readonly property color alternate: dark ? "#222B37" : "#F6F8FA"
    readonly property color text: dark ? "#E6EAF0" : "#1F2A37"
    readonly property color secondary: dark ? "#9AA6B5" : "#5B6675"
    readonly property color faint: dark ? "#7F8B9A" : "#7A8594"
    readonly property color border: dark ? "#334050" : "#D5DCE4"
    readonly property color button: dark ? "#2A3441" : "#EEF1F5"
    readonly property color warning: dark ? "#F6C177" : "#9B5C00"
    readonly property color failure: dark ? "#FF9B9B" : "#8A1C1C"
}
