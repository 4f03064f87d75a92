import QtQuick
import Zephro.Ui

// One symbol by name, drawn from its glyph in the symbol catalog.
Text {
    property string name
    property real size: 13

    text: Symbols.glyph(name)
    font.family: Symbols.fontFamily(name)
    font.pixelSize: size
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    color: palette.windowText
}
