import QtQuick
import QtQuick.Controls

Label {
    font.pixelSize: 13
    font.bold: true
    font.capitalization: Font.AllUppercase
    color: Style.secondary
    topPadding: 8
}
