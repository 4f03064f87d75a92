import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Zephro.Ui
import "Style.js" as Style

// One row of the sidebar: a preset's or a curve's icon, name and value. A click selects it;
// its context menu deletes it (or, for the unsaved one, cancels it).
T.AbstractButton {
    id: row

    required property string presetName
    required property string symbol
    required property string valueText
    required property bool isSelected
    property string emptySymbol: "fan.fill"
    property string deleteText
    property string selectedText

    signal deleteAction()

    readonly property bool isHovered: hovered
    readonly property alias contextMenu: contextMenu
    readonly property color foreground: isSelected ? palette.highlightedText : palette.windowText

    hoverEnabled: true
    implicitHeight: 40
    leftPadding: 8
    rightPadding: 8
    Accessible.role: Accessible.ListItem
    Accessible.name: presetName
    Accessible.description: isSelected ? selectedText : ""

    contentItem: RowLayout {
        spacing: 8

        PresetIcon {
            symbol: row.symbol
            emptySymbol: row.emptySymbol
            size: 15
            color: row.foreground
            Layout.preferredWidth: 22
        }
        Column {
            Layout.fillWidth: true

            Text {
                objectName: "rowName"
                width: parent.width
                text: row.presetName
                font.pixelSize: Style.body
                color: row.foreground
                elide: Text.ElideRight
            }
            Text {
                objectName: "rowValue"
                width: parent.width
                text: row.valueText
                font.pixelSize: Style.caption
                color: row.isSelected ? Style.withAlpha(row.palette.highlightedText, 0.8)
                                      : Theme.secondaryText(row.palette)
                elide: Text.ElideRight
            }
        }
    }

    background: Rectangle {
        radius: 6
        color: row.isSelected ? row.palette.highlight
                              : row.hovered ? Style.withAlpha(row.palette.windowText, 0.07)
                                            : "transparent"
    }

    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: contextMenu.popup()
    }

    Menu {
        id: contextMenu

        objectName: "rowContextMenu"

        MenuItem {
            objectName: "deleteContext"
            text: row.deleteText
            onTriggered: row.deleteAction()
            contentItem: Row {
                spacing: 6

                SymbolGlyph {
                    name: "trash"
                    size: 14
                    color: Style.destructive
                    anchors.verticalCenter: parent.verticalCenter
                }
                Text {
                    text: row.deleteText
                    font.pixelSize: Style.body
                    color: Style.destructive
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
        }
    }
}
