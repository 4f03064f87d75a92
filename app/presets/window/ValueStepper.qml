import QtQuick
import QtQuick.Templates as T
import Zephro.Ui
import "Style.js" as Style

// Two small arrows that move a value one step up or down.
Column {
    id: stepper

    property bool canStepUp: true
    property bool canStepDown: true

    signal stepped(int direction)

    Repeater {
        model: [
            { role: "stepUp", symbol: "chevron.up", direction: 1 },
            { role: "stepDown", symbol: "chevron.down", direction: -1 }
        ]

        T.AbstractButton {
            id: arrow

            required property var modelData

            objectName: modelData.role
            width: 18
            height: 13
            enabled: modelData.direction > 0 ? stepper.canStepUp : stepper.canStepDown
            autoRepeat: true
            Accessible.name: modelData.role
            onClicked: stepper.stepped(modelData.direction)

            contentItem: SymbolGlyph {
                name: arrow.modelData.symbol
                size: 14
                color: arrow.enabled ? arrow.palette.windowText
                                     : Style.withAlpha(arrow.palette.windowText, 0.3)
            }
            background: Rectangle {
                radius: 3
                color: arrow.pressed ? Style.withAlpha(arrow.palette.windowText, 0.15)
                                     : Style.withAlpha(arrow.palette.windowText, 0.06)
            }
        }
    }
}
