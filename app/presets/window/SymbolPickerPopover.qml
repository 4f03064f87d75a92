import QtQuick
import QtQuick.Controls.Basic
import Zephro.Ui
import "Style.js" as Style

// The icon chooser: the catalogue's four sections in a grid of six columns, the chosen
// symbol highlighted, a button that clears the icon and an input for one emoji. It floats
// next to the field it edits (its parent), inside the window, and never over that field.
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
    readonly property alias scrollBar: scrollBar
    // Where it went: "below", "right", "left" or "above" the field.
    property string side
    // Its distance from the field and from the window's edges.
    readonly property int gap: 6
    readonly property int edge: 8
    // Shorter than this, a side shows too little of the grid to choose from.
    readonly property int minimumHeight: 200

    // Asks for a new selection; the editor owns it.
    signal selectionChosen(string symbol)
    // The emoji input changed; answers the text it should read from now on.
    property var normaliseEmoji: text => text

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    // Where a popup of the preferred size goes, given the field and the area it may use (both
    // rectangles in one coordinate space): below the field, else to its right, its left or
    // above it, the first side with room for the whole width and the least useful height.
    // With no such side it takes the roomiest and shrinks to it; no side overlaps the field.
    function placement(field, area, preferredWidth, preferredHeight) {
        const clamp = (value, low, high) => Math.max(low, Math.min(value, high))
        const right = area.x + area.width
        const bottom = area.y + area.height
        const rooms = [
            { side: "below", x: area.x, y: field.y + field.height + gap, width: area.width,
              height: bottom - (field.y + field.height + gap) },
            { side: "right", x: field.x + field.width + gap, y: area.y,
              width: right - (field.x + field.width + gap), height: area.height },
            { side: "left", x: area.x, y: area.y, width: field.x - gap - area.x,
              height: area.height },
            { side: "above", x: area.x, y: area.y, width: area.width,
              height: field.y - gap - area.y }
        ]
        const fits = room => room.width >= preferredWidth && room.height >= minimumHeight
        const size = room => Math.max(0, Math.min(room.width, preferredWidth))
                             * Math.max(0, Math.min(room.height, preferredHeight))
        let room = rooms.find(fits)
        if (!room)
            room = rooms.reduce((best, next) => size(next) > size(best) ? next : best)
        const width = Math.max(0, Math.min(preferredWidth, room.width))
        const height = Math.max(0, Math.min(preferredHeight, room.height))
        // Lined up with the field where the room allows.
        const vertical = room.side === "below" || room.side === "above"
        return {
            side: room.side,
            x: vertical ? clamp(field.x, room.x, room.x + room.width - width)
                        : room.side === "left" ? room.x + room.width - width : room.x,
            y: vertical ? (room.side === "above" ? room.y + room.height - height : room.y)
                        : clamp(field.y, room.y, room.y + room.height - height),
            width: width,
            height: height
        }
    }

    // The items whose moves move the field, while the picker is open: the field and every
    // item it sits in, up to the window's root, which a resized window resizes.
    property var watched: []

    function scheduleReposition() {
        Qt.callLater(reposition)
    }

    function followField() {
        const items = []
        for (let up = parent; up; up = up.parent) {
            for (const changed of [up.xChanged, up.yChanged, up.widthChanged, up.heightChanged])
                changed.connect(scheduleReposition)
            items.push(up)
        }
        watched = items
    }

    function stopFollowing() {
        for (const up of watched) {
            for (const changed of [up.xChanged, up.yChanged, up.widthChanged, up.heightChanged])
                changed.disconnect(scheduleReposition)
        }
        watched = []
    }

    function reposition() {
        const window = parent ? parent.Window.window : null
        if (!window)
            return
        const field = parent.mapToItem(null, 0, 0, parent.width, parent.height)
        const area = Qt.rect(edge, edge, window.width - 2 * edge, window.height - 2 * edge)
        const chosen = placement(field, area, implicitWidth, implicitHeight)
        side = chosen.side
        x = chosen.x - field.x
        y = chosen.y - field.y
        width = chosen.width
        height = chosen.height
    }

    padding: 12
    implicitWidth: columns * cellWidth + (columns - 1) * columnSpacing + 2 * padding
                   + scroll.rightPadding
    implicitHeight: grid.implicitHeight + footer.height + content.spacing + 2 * padding
    // The placement keeps it inside the window; nothing should push it over the field.
    margins: 0
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    onAboutToShow: {
        reposition()
        followField()
    }
    onClosed: stopFollowing()

    background: Item {
        // Stacked translucent layers, each a little wider than the last: Qt 6.4 has no blur
        // to draw a shadow with.
        Repeater {
            objectName: "shadow"
            model: 4

            Rectangle {
                required property int index
                readonly property real spread: 1.5 * (index + 1)

                x: -spread
                y: -spread + 2
                width: panel.width + 2 * spread
                height: panel.height + 2 * spread
                radius: panel.radius + spread
                color: Qt.rgba(0, 0, 0, 0.06)
            }
        }
        Rectangle {
            id: panel

            anchors.fill: parent
            radius: 10
            color: picker.palette.window
            border.width: 1
            border.color: Style.withAlpha(picker.palette.windowText, 0.18)
        }
    }

    contentItem: Column {
        id: content

        spacing: 10

        ScrollView {
            id: scroll

            objectName: "symbolScroll"
            width: parent.width
            height: parent.height - footer.height - parent.spacing
            rightPadding: scrollBar.width + 4
            clip: true
            contentWidth: availableWidth
            contentHeight: grid.implicitHeight

            ScrollBar.vertical: ScrollBar {
                id: scrollBar

                parent: scroll
                x: scroll.width - width
                height: scroll.height
                // Always drawn while there is more to see, so a person knows to scroll.
                policy: scroll.contentHeight > scroll.height ? ScrollBar.AlwaysOn
                                                             : ScrollBar.AlwaysOff
            }

            Column {
                id: grid

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
                                        size: 24
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
