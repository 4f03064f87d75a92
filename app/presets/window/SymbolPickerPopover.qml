import QtQuick
import QtQuick.Controls.Basic
import Zephro.Ui
import "Style.js" as Style

// The icon chooser: the catalogue's four sections in a grid of six columns, the chosen
// symbol highlighted, a button that clears the icon and an input for one emoji.
Popup {
    id: picker

    // The icon being chosen: a symbol name, one emoji or empty.
    property string selection
    property QtObject loc
    readonly property var sections: Symbols.pickerSections
    readonly property int columns: 6
    readonly property int cellWidth: 40
    readonly property int columnSpacing: 13
    readonly property alias emojiInput: emojiField

    // Asks for a new selection; the editor owns it.
    signal selectionChosen(string symbol)
    // The emoji input changed; answers the text it should read from now on.
    property var normaliseEmoji: text => text

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    padding: 12
    width: columns * cellWidth + (columns - 1) * columnSpacing + 2 * padding + 10
    height: 360
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    background: Rectangle {
        radius: 10
        color: picker.palette.window
        border.width: 1
        border.color: Style.withAlpha(picker.palette.windowText, 0.18)
    }

    contentItem: Column {
        spacing: 10

        ScrollView {
            id: scroll

            width: parent.width
            height: parent.height - footer.height - parent.spacing
            clip: true
            contentWidth: availableWidth

            Column {
                width: scroll.availableWidth
                spacing: 12

                Repeater {
                    model: picker.sections

                    Column {
                        id: section

                        required property var modelData

                        objectName: "section_" + modelData.id
                        spacing: 6

                        Text {
                            objectName: "sectionTitle"
                            text: picker.text("symbol_category_" + section.modelData.id.toLowerCase())
                            font.pixelSize: Style.caption
                            font.bold: true
                            color: Theme.secondaryText(picker.palette)
                        }
                        Grid {
                            columns: picker.columns
                            columnSpacing: picker.columnSpacing
                            rowSpacing: 6

                            Repeater {
                                model: section.modelData.symbols

                                AbstractButton {
                                    id: cell

                                    required property string modelData
                                    readonly property bool isChosen: picker.selection === modelData

                                    objectName: "symbol_" + modelData
                                    width: picker.cellWidth
                                    height: 32
                                    hoverEnabled: true
                                    Accessible.name: modelData
                                    Accessible.checked: isChosen
                                    onClicked: picker.selectionChosen(modelData)

                                    contentItem: SymbolGlyph {
                                        name: cell.modelData
                                        size: 19
                                        color: cell.isChosen ? picker.palette.highlightedText
                                                             : picker.palette.windowText
                                    }
                                    background: Rectangle {
                                        radius: 7
                                        color: cell.isChosen ? picker.palette.highlight
                                                             : cell.hovered ? Style.withAlpha(picker.palette.windowText, 0.08)
                                                                            : "transparent"
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }

        Row {
            id: footer

            spacing: 8

            SymbolPickerFooterButton {
                objectName: "symbolClear"
                text: picker.text("symbol_clear")
                onClicked: {
                    picker.selectionChosen("")
                    emojiField.text = ""
                }
            }
            SymbolPickerFooterButton {
                objectName: "symbolEmoji"
                symbolName: "face.smiling"
                text: picker.text("symbol_emoji")
                // The desktop has no character palette to open: the field is where an
                // emoji goes, typed, pasted or picked with the input method.
                onClicked: {
                    emojiField.text = ""
                    emojiField.forceActiveFocus()
                }
            }
            TextField {
                id: emojiField

                objectName: "emojiInput"
                width: 64
                height: 24
                padding: 2
                font.pixelSize: 14
                horizontalAlignment: TextInput.AlignHCenter
                onTextChanged: {
                    const normalised = picker.normaliseEmoji(text)
                    if (normalised !== text)
                        text = normalised
                }
            }
        }
    }
}
