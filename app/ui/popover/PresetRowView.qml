import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Zephro.Ui
import "Style.js" as Style

// One preset: its symbol and name. The preset in force sits on an accent-coloured glass
// background; a hovered row gets a faint highlight.
T.AbstractButton {
    id: control

    property string name
    // A symbol name, an emoji or other text, or empty for the fan.
    property string symbol
    property bool isSelected: false
    property bool disableLiquidGlass: false
    property string selectedText
    property string notSelectedText
    readonly property bool isHovered: hovered
    readonly property bool symbolIsGlyph: symbol.length === 0 || Symbols.contains(symbol)

    hoverEnabled: true
    leftPadding: 12
    rightPadding: 12
    implicitHeight: Style.rowHeight
    Accessible.name: name
    Accessible.description: isSelected ? selectedText : notSelectedText

    contentItem: RowLayout {
        spacing: 8

        Item {
            implicitWidth: 18
            implicitHeight: 18

            SymbolGlyph {
                objectName: "glyph"
                anchors.centerIn: parent
                visible: control.symbolIsGlyph
                name: control.symbol.length > 0 ? control.symbol : "fan.fill"
                size: 17
                color: control.isSelected ? "white"
                                          : Style.withAlpha(control.palette.windowText, 0.82)
            }
            Text {
                objectName: "symbolText"
                anchors.centerIn: parent
                visible: !control.symbolIsGlyph
                text: control.symbol
                font.pixelSize: 12
                // A long unknown name stays inside its slot instead of running under the name.
                width: Math.min(implicitWidth, parent.width)
                elide: Text.ElideRight
                color: control.isSelected ? "white"
                                          : Style.withAlpha(control.palette.windowText, 0.82)
            }
        }
        Text {
            text: control.name
            font.pixelSize: Style.body
            color: control.palette.windowText
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }

    background: Rectangle {
        radius: control.isSelected ? 10 : 8
        border.width: control.isSelected ? 1 : 0
        border.color: Qt.darker(control.palette.highlight, 1.1)
        color: control.isSelected ? control.palette.highlight
                                  : control.hovered ? Style.withAlpha(control.palette.windowText,
                                                                      0.09)
                                                    : "transparent"
    }
}
