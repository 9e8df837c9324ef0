import QtQuick
import QtQuick.Controls

Label {
    font.pixelSize: 13
    font.bold: true
    font.capitalization: Font.AllUppercase
    color: "#5B6675"
    topPadding: 8
}
