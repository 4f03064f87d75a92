import QtQuick
import Zephro.Ui
import Zephro.Presets
import "Style.js" as Style

// A curve's points on a chart, temperature across and fan percentage up, with the current
// temperature as a vertical line and the percentage the points give there. Points are
// dragged, and a click on free space adds one; the editor keeps them a curve.
Item {
    id: chart

    required property CurveEditor editor
    property QtObject loc
    // Where the plot starts: the percentage labels sit left of it, under the editor's labels.
    property real plotLeft: 40
    readonly property alias plot: plot

    function format(key, args) {
        return loc ? (loc.revision, loc.format(key, args)) : key
    }

    readonly property real lowest: editor.lowestCelsius
    readonly property real highest: editor.highestCelsius
    readonly property bool fahrenheit: editor.viewModel ? editor.viewModel.useFahrenheit : false
    readonly property string unit: fahrenheit ? "°F" : "°C"
    // Temperatures in the unit the user reads; points stay in whole degrees Celsius.
    function shown(celsius) {
        return fahrenheit ? celsius * 9 / 5 + 32 : celsius
    }
    function celsiusOf(degrees) {
        return fahrenheit ? (degrees - 32) * 5 / 9 : degrees
    }
    // Grid lines on round numbers of that unit: every 10 °C or every 20 °F.
    readonly property var temperatureTicks: {
        const step = fahrenheit ? 20 : 10
        const ticks = []
        for (let degrees = Math.ceil(shown(lowest) / step) * step; degrees <= shown(highest);
             degrees += step)
            ticks.push(degrees)
        return ticks
    }

    function xOf(celsius) {
        return (celsius - lowest) / (highest - lowest) * plot.width
    }
    function yOf(percent) {
        return (1 - percent / 100) * plot.height
    }
    function celsiusAt(x) {
        return lowest + x / plot.width * (highest - lowest)
    }
    function percentAt(y) {
        return (1 - y / plot.height) * 100
    }
    function degrees(celsius) {
        return (fahrenheit ? Math.round(shown(celsius)) : Number(celsius.toFixed(1))) + unit
    }

    implicitHeight: 180

    Rectangle {
        anchors.fill: plot
        anchors.margins: -1
        color: Style.withAlpha(chart.palette.windowText, 0.03)
        border.width: 1
        border.color: Style.separator(chart.palette)
    }

    Item {
        id: plot

        objectName: "plot"
        x: chart.plotLeft
        y: 8
        // Room on the right for half of the last temperature's label.
        width: chart.width - x - 18
        height: chart.height - y - 22

        Canvas {
            id: canvas

            anchors.fill: parent
            onPaint: {
                const context = getContext("2d")
                context.reset()
                context.lineWidth = 1
                context.strokeStyle = Style.withAlpha(chart.palette.windowText, 0.08)
                context.beginPath()
                for (const degrees of chart.temperatureTicks) {
                    const x = Math.round(chart.xOf(chart.celsiusOf(degrees))) + 0.5
                    context.moveTo(x, 0)
                    context.lineTo(x, height)
                }
                for (let percent = 25; percent < 100; percent += 25) {
                    const y = Math.round(chart.yOf(percent)) + 0.5
                    context.moveTo(0, y)
                    context.lineTo(width, y)
                }
                context.stroke()

                // Flat before the first point and after the last, as the fans follow it.
                const points = chart.editor.points
                if (points.length === 0)
                    return
                context.beginPath()
                context.moveTo(0, chart.yOf(points[0].percent))
                for (const point of points)
                    context.lineTo(chart.xOf(point.celsius), chart.yOf(point.percent))
                context.lineTo(width, chart.yOf(points[points.length - 1].percent))
                context.lineWidth = 2
                context.lineJoin = "round"
                context.strokeStyle = chart.palette.highlight
                context.stroke()
                context.lineTo(width, height)
                context.lineTo(0, height)
                context.closePath()
                context.fillStyle = Style.withAlpha(chart.palette.highlight, 0.14)
                context.fill()
            }

            Connections {
                target: chart.editor

                function onPointsChanged() {
                    canvas.requestPaint()
                }
                function onChartRangeChanged() {
                    canvas.requestPaint()
                }
            }
            Connections {
                target: chart

                function onPaletteChanged() {
                    canvas.requestPaint()
                }
                function onTemperatureTicksChanged() {
                    canvas.requestPaint()
                }
            }
        }

        MouseArea {
            objectName: "chartArea"
            anchors.fill: parent
            onClicked: mouse => chart.editor.addPointAt(chart.celsiusAt(mouse.x),
                                                        chart.percentAt(mouse.y))
        }

        Item {
            objectName: "nowLine"
            visible: chart.editor.hasTemperature
            x: Math.max(0, Math.min(plot.width, chart.xOf(chart.editor.currentCelsius)))
            height: plot.height

            Rectangle {
                x: -width / 2
                width: 1.5
                height: parent.height
                color: Style.now
            }
            Rectangle {
                x: -width / 2
                y: chart.yOf(chart.editor.currentPercent) - height / 2
                width: 8
                height: 8
                radius: 4
                color: Style.now
            }
            Rectangle {
                readonly property bool fitsRight: parent.x + 6 + width <= plot.width

                x: fitsRight ? 6 : -6 - width
                y: 4
                width: nowText.implicitWidth + 10
                height: nowText.implicitHeight + 4
                radius: 4
                color: Style.withAlpha(chart.palette.window, 0.85)

                Text {
                    id: nowText

                    objectName: "nowText"
                    anchors.centerIn: parent
                    text: chart.format("curve_now", [chart.editor.currentPercent,
                                                     chart.editor.currentTemperatureText])
                    font.pixelSize: Style.caption
                    font.bold: true
                    color: chart.palette.windowText
                }
            }
        }

        Repeater {
            objectName: "pointHandles"
            model: chart.editor.points.length

            Rectangle {
                id: handle

                required property int index
                readonly property var point: chart.editor.points[index] ?? { celsius: 0, percent: 0 }
                readonly property bool isSelected: chart.editor.selectedPoint === index

                objectName: "point" + index
                x: chart.xOf(point.celsius) - width / 2
                y: chart.yOf(point.percent) - height / 2
                width: 12
                height: 12
                radius: 6
                color: isSelected ? chart.palette.highlight : chart.palette.base
                border.width: 2
                border.color: chart.palette.highlight
                Accessible.role: Accessible.Slider
                Accessible.name: chart.degrees(point.celsius) + ", " + point.percent + "%"

                // The selected point's halo.
                Rectangle {
                    z: -1
                    anchors.centerIn: parent
                    visible: handle.isSelected
                    width: 22
                    height: 22
                    radius: 11
                    color: Style.withAlpha(chart.palette.highlight, 0.3)
                }

                MouseArea {
                    anchors.fill: parent
                    anchors.margins: -5
                    cursorShape: Qt.SizeAllCursor
                    preventStealing: true
                    onPressed: chart.editor.selectedPoint = handle.index
                    onPositionChanged: mouse => {
                        const at = mapToItem(plot, mouse.x, mouse.y)
                        chart.editor.movePoint(handle.index, chart.celsiusAt(at.x),
                                               chart.percentAt(at.y))
                    }
                }
            }
        }

        // The selected point's place, above it (or below at the top of the chart).
        Rectangle {
            readonly property var point: chart.editor.points[chart.editor.selectedPoint]

            objectName: "pointValue"
            visible: point !== undefined
            x: point ? Math.max(0, Math.min(plot.width - width, chart.xOf(point.celsius) - width / 2)) : 0
            y: point ? (chart.yOf(point.percent) > height + 16 ? chart.yOf(point.percent) - height - 14
                                                               : chart.yOf(point.percent) + 14)
                     : 0
            width: pointText.implicitWidth + 10
            height: pointText.implicitHeight + 4
            radius: 4
            color: Style.withAlpha(chart.palette.window, 0.85)

            Text {
                id: pointText

                anchors.centerIn: parent
                text: parent.point ? chart.degrees(parent.point.celsius) + " · " + parent.point.percent + "%" : ""
                font.pixelSize: Style.caption
                color: chart.palette.windowText
            }
        }
    }

    Repeater {
        model: chart.temperatureTicks

        Text {
            required property var modelData

            x: plot.x + chart.xOf(chart.celsiusOf(modelData)) - width / 2
            y: plot.y + plot.height + 4
            text: modelData + chart.unit
            font.pixelSize: Style.caption
            color: Theme.secondaryText(chart.palette)
        }
    }
    Repeater {
        // Every other label where the chart is short.
        model: plot.height >= 120 ? [0, 25, 50, 75, 100] : [0, 50, 100]

        Text {
            required property var modelData

            x: plot.x - width - 8
            y: plot.y + chart.yOf(modelData) - height / 2
            text: modelData + "%"
            font.pixelSize: Style.caption
            color: Theme.secondaryText(chart.palette)
        }
    }
}
