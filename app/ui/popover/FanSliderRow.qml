import QtQuick
import Zephro.Ui
import QtQuick.Layouts
import QtQuick.Templates as T
import "Style.js" as Style

// One fan: its name, speed and target, and the slider that sets the target. The slider
// moves only displayValue; when a drag ends, committed() hands over the whole percentage,
// once. Nothing is committed while the thumb moves.
Column {
    id: row

    property string title
    property int rpm: 0
    // The committed target, as the view model has it.
    property int percentage: 25
    property bool fineTune: false
    property bool reduceMotion: false
    property real displayValue: percentage
    readonly property bool isEditingSlider: slider.pressed
    readonly property alias slider: slider

    signal committed(int percentage)

    spacing: 6

    // A new target from outside glides the thumb there, unless the user holds it.
    onPercentageChanged: {
        if (!isEditingSlider)
            displayValue = percentage
    }

    Behavior on displayValue {
        enabled: !row.isEditingSlider && !row.reduceMotion
        NumberAnimation {
            duration: 300
            easing.type: Easing.OutCubic
        }
    }

    RowLayout {
        width: row.width
        spacing: 6

        Text {
            objectName: "title"
            text: row.title
            font.pixelSize: Style.body
            font.weight: Font.Medium
            color: row.palette.windowText
        }
        Text {
            objectName: "rpm"
            text: row.rpm + " RPM"
            font.pixelSize: Style.caption
            color: Theme.secondaryText(row.palette)
        }
        Item {
            Layout.fillWidth: true
        }
        Text {
            objectName: "percentage"
            text: Math.round(row.displayValue) + "%"
            font.pixelSize: Style.caption
            color: Theme.secondaryText(row.palette)
            horizontalAlignment: Text.AlignRight
            Layout.preferredWidth: 40
        }
    }

    T.Slider {
        id: slider

        objectName: "slider"
        width: row.width
        from: 25
        to: 100
        stepSize: row.fineTune ? 1 : 25
        snapMode: T.Slider.SnapAlways
        value: row.displayValue
        implicitHeight: 18
        opacity: enabled ? 1 : 0.5
        onMoved: row.displayValue = value
        onPressedChanged: {
            if (!pressed)
                row.committed(Math.round(value))
        }

        background: Rectangle {
            x: slider.leftPadding
            y: slider.topPadding + (slider.availableHeight - height) / 2
            width: slider.availableWidth
            height: 4
            radius: 2
            color: Style.withAlpha(slider.palette.windowText, 0.15)

            Rectangle {
                width: slider.visualPosition * parent.width
                height: parent.height
                radius: 2
                color: slider.palette.highlight
            }
        }

        handle: Rectangle {
            x: slider.leftPadding + slider.visualPosition * (slider.availableWidth - width)
            y: slider.topPadding + (slider.availableHeight - height) / 2
            width: 16
            height: 16
            radius: 8
            color: "white"
            border.width: 1
            border.color: Style.withAlpha("black", 0.2)
        }
    }
}
