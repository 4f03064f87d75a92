import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Zephro.Ui
import "Style.js" as Style

// An editor's icon field: the icon and a chevron, opening the icon chooser beside it. The
// editor (of presets or of curves) holds the icon and whether the chooser is shown.
T.AbstractButton {
    id: iconButton

    required property QtObject editor
    property QtObject loc
    property string emptySymbol: "fan.fill"
    readonly property alias picker: symbolPicker

    objectName: "iconButton"
    implicitWidth: 58
    implicitHeight: 28
    hoverEnabled: true
    onClicked: editor.showingSymbolPicker = true

    contentItem: Row {
        leftPadding: 8
        spacing: 4

        PresetIcon {
            objectName: "editorIcon"
            symbol: iconButton.editor.editingSymbol
            emptySymbol: iconButton.emptySymbol
            size: 16
            anchors.verticalCenter: parent.verticalCenter
        }
        SymbolGlyph {
            name: "chevron.right"
            size: 14
            color: Theme.secondaryText(iconButton.palette)
            anchors.verticalCenter: parent.verticalCenter
        }
    }
    background: Rectangle {
        radius: 6
        color: Style.withAlpha(iconButton.palette.windowText,
                               iconButton.pressed ? 0.14 : iconButton.hovered ? 0.1 : 0.06)
        border.width: 1
        border.color: Style.withAlpha(iconButton.palette.windowText, 0.12)
    }

    SymbolPickerPopover {
        id: symbolPicker

        objectName: "symbolPicker"
        loc: iconButton.loc
        selection: iconButton.editor.editingSymbol
        normaliseEmoji: text => iconButton.editor.takeEmojiInput(text)
        onSelectionChosen: symbol => iconButton.editor.editingSymbol = symbol
        onClosed: iconButton.editor.showingSymbolPicker = false
    }
    Connections {
        target: iconButton.editor

        function onShowingSymbolPickerChanged() {
            if (iconButton.editor.showingSymbolPicker)
                symbolPicker.open()
            else
                symbolPicker.close()
        }
    }
}
