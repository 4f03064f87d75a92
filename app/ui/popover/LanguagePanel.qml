import QtQuick
import Zephro.Ui
import QtQuick.Layouts
import QtQuick.Templates as T
import "Style.js" as Style

// One row per interface language, in the order of the language list; a click makes that
// language the interface language at once.
Column {
    id: panel

    required property QtObject loc

    spacing: 0

    Repeater {
        model: panel.loc.languages

        T.AbstractButton {
            id: row

            required property string modelData
            readonly property bool isCurrent: panel.loc.language === modelData

            objectName: "language_" + modelData
            width: panel.width
            hoverEnabled: true
            leftPadding: 4
            rightPadding: 4
            implicitHeight: Style.rowHeight
            Accessible.role: Accessible.RadioButton
            Accessible.checked: isCurrent
            onClicked: panel.loc.language = modelData

            contentItem: RowLayout {
                spacing: 8

                Text {
                    text: (panel.loc.revision, panel.loc.displayName(row.modelData))
                    font.pixelSize: Style.body
                    font.weight: Font.Medium
                    color: row.palette.windowText
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
                SymbolGlyph {
                    name: row.isCurrent ? "largecircle.fill.circle" : "circle"
                    size: 17
                    color: row.isCurrent ? row.palette.highlight : Theme.secondaryText(row.palette)
                }
            }

            background: Rectangle {
                radius: 6
                color: row.hovered ? Style.withAlpha(row.palette.windowText, 0.08) : "transparent"
            }
        }
    }
}
