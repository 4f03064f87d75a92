import QtQuick
import QtTest
import Zephro.Presets
import Zephro.PopoverTest
import Zephro.Ui

// The preset manager as a person uses it, each case checking what the store then holds.
PopoverTestCase {
    name: "PresetManager"
    width: 680
    height: 460
    // The view goes before the view model when the scene is destroyed.
    sceneComponent: Component {
        Item {
            readonly property alias view: view
            readonly property alias fixture: fixture
            readonly property var store: fixture.viewModel.presetStore
            readonly property var editor: view.editor

            anchors.fill: parent

            PresetManagerView {
                id: view
                anchors.fill: parent
                viewModel: fixture.viewModel
            }
            PopoverFixture { id: fixture }
        }
    }

    SignalSpy { id: writes; signalName: "presetsChanged" }

    function initTestCase() {
        Localization.language = "en"
    }

    function sceneWithFans() {
        const created = scene()
        created.fixture.serveFans(2, 2400, 1200, 5800)
        created.fixture.poll()
        tryCompare(created.editor, "upperRPMBound", 5800)
        return created
    }

    function selected(created, name, value, mode) {
        const id = mode === "rpm" ? created.fixture.addRPMPreset(name, value)
                                  : created.fixture.addPreset(name, value)
        mouseClick(item(created.view, "row_" + id))
        return id
    }

    // The icon chooser is a popup rather than an item of the view.
    function openPicker(created) {
        click(created, "iconButton")
        const picker = findChild(created.view, "symbolPicker")
        tryCompare(picker, "opened", true)
        return picker
    }

    function saved(created) {
        const preset = created.store.presets[0]
        return [created.store.presets.length, preset.name, preset.mode, preset.value, preset.symbol]
    }

    function type(field, text) {
        field.forceActiveFocus()
        field.selectAll()
        keyClick(Qt.Key_Backspace)
        for (const character of text)
            keyClick(character)
    }

    function deleteFromContextMenu(row) {
        mouseClick(row, row.width / 2, row.height / 2, Qt.RightButton)
        tryCompare(row.contextMenu, "opened", true)
        mouseClick(row.contextMenu.itemAt(0))
    }

    // Opening selects nothing; typed input is refused with its reason until corrected.
    function test_newPreset_data() {
        return [
            { tag: "blank name", presets: 0, field: "nameField", bad: "   ",
              error: "Name cannot be empty.", good: "Night", saved: ["Night", "percentage", 50] },
            { tag: "RPM above the fans' range", presets: 1, field: "valueField", rpm: true,
              bad: "6000", error: "RPM must be between 1200 and 5800.", good: "2500",
              saved: ["New Preset", "rpm", 2500] }
        ]
    }

    function test_newPreset(data) {
        const created = sceneWithFans()
        for (let i = 0; i < data.presets; ++i)
            created.fixture.addPreset("Quiet", 35)
        const shown = name => item(created.view, name)
        compare([shown("detailEmpty").visible, findChild(created.view, "editorPane"),
                 shown("removeButton").enabled, shown("sidebarEmptyText").visible,
                 shown("sidebarRows").count], [true, null, false, data.presets === 0, data.presets])

        click(created, "newPresetButton")
        compare([shown("row_unsaved").isSelected, shown("row_unsaved").valueText,
                 created.store.presets.length], [true, "50%", data.presets])
        if (data.rpm)
            click(created, "segment_rpm")
        const field = shown(data.field)
        type(field, data.bad)
        compare([field.text, shown("errorRow").visible, shown("errorMessage").text,
                 shown("row_unsaved").presetName, shown("saveButton").enabled],
                [data.bad, true, data.error, "New Preset", false])
        keyClick(Qt.Key_Return)
        created.editor.save()
        compare(created.store.presets.length, data.presets)

        type(field, data.good)
        compare(shown("errorRow").visible, false)
        keyClick(Qt.Key_Return)
        const preset = created.store.presets[data.presets]
        compare([preset.name, preset.mode, preset.value, preset.symbol, created.editor.selectedPresetID,
                 created.editor.isCreatingNew, findChild(created.view, "row_unsaved")],
                data.saved.concat(["", preset.id, false, null]))
    }

    // Changing the kind resets a value outside the new kind's range.
    function test_editingTheValue_data() {
        return [
            { tag: "percentage at the top", mode: "percentage", from: 100, steps: [1], value: 100 },
            { tag: "percentage to the bottom", mode: "percentage", from: 30, steps: [-1, -1], value: 25 },
            { tag: "RPM up", mode: "rpm", from: 2000, steps: [1, 1], value: 2200 },
            { tag: "RPM near the top", mode: "rpm", from: 5750, steps: [1], value: 5800 },
            { tag: "70 % to RPM", mode: "percentage", from: 70, to: "rpm", value: 1200,
              unit: "RPM", hint: "Between 1200 and 5800 RPM" },
            { tag: "2000 RPM to percentage", mode: "rpm", from: 2000, to: "percentage", value: 50 }
        ]
    }

    function test_editingTheValue(data) {
        const created = sceneWithFans()
        const editor = created.editor
        selected(created, "Edited", data.from, data.mode)
        compare(editor.editingValue, data.from)
        if (data.to)
            click(created, "segment_" + data.to)
        for (const direction of data.steps ?? []) {
            const arrow = item(created.view, direction > 0 ? "stepUp" : "stepDown")
            if (arrow.enabled)
                mouseClick(arrow)
            else
                editor.step(direction)
        }
        const mode = data.to ?? data.mode
        compare([editor.editingMode, editor.editingValue, item(created.view, "stepUp").enabled,
                 item(created.view, "stepDown").enabled, item(created.view, "saveButton").enabled],
                [mode, data.value, data.value < editor.upperBound, data.value > editor.lowerBound,
                 mode !== data.mode || data.value !== data.from])
        if (data.hint)
            compare([item(created.view, "rangeHint").text, item(created.view, "valueUnit").text],
                    [data.hint, data.unit])
        click(created, "saveButton")
        compare(saved(created), [1, "Edited", mode, data.value, ""])
    }

    // An unchanged preset saves nothing; a chosen or typed (normalised) icon saves once.
    function test_iconChoice_data() {
        return [
            { tag: "a symbol of the grid", symbol: "flame", glyph: true },
            { tag: "two fire emoji", input: "🔥🔥", symbol: "🔥", glyph: false },
            { tag: "a symbol's name", input: "wind", symbol: "wind", glyph: true },
            { tag: "a dotted unknown name", input: "no.such.symbol", symbol: "n", glyph: false },
            { tag: "spaces around", input: "  ❄️ ", symbol: "❄️", glyph: false }
        ]
    }

    function test_iconChoice(data) {
        const created = scene()
        selected(created, "Icons", 60)
        writes.target = created.store
        writes.clear()
        compare(item(created.view, "saveButton").enabled, false)
        created.editor.save()
        keyClick(Qt.Key_Return)
        compare(writes.count, 0)

        const picker = openPicker(created)
        if (data.input) {
            mouseClick(item(picker.contentItem, "symbolEmoji"))
            verify(picker.emojiInput.activeFocus)
            picker.emojiInput.insert(0, data.input)
            compare(picker.emojiInput.text, data.symbol)
        } else {
            mouseClick(item(picker.contentItem, "symbol_" + data.symbol))
            compare(picker.opened, true)
        }
        compare([created.editor.editingSymbol, item(created.view, "editorIcon").isGlyph],
                [data.symbol, data.glyph])
        if (data.glyph)
            compare(item(picker.contentItem, "symbol_" + data.symbol).isChosen, true)
        picker.close()
        click(created, "saveButton")
        compare([writes.count, saved(created), item(created.view, "saveButton").enabled],
                [1, [1, "Icons", "percentage", 60, data.symbol], false])

        openPicker(created)
        mouseClick(item(picker.contentItem, "symbolClear"))
        compare(picker.emojiInput.text, "")
        picker.close()
        click(created, "saveButton")
        compare(created.store.presets[0].symbol, "")
    }

    function apart(a, b) {
        return a.x >= b.x + b.width || a.x + a.width <= b.x || a.y >= b.y + b.height
               || a.y + a.height <= b.y
    }

    function inside(a, b) {
        return a.x >= b.x && a.y >= b.y && a.x + a.width <= b.x + b.width
               && a.y + a.height <= b.y + b.height
    }

    // The chooser opens below its field inside the window, shows that it scrolls, and every
    // section scrolls into view. Opened as the editor is laid out, it follows the field.
    function test_pickerShowsEverySectionBelowTheField() {
        const created = scene()
        created.editor.select(created.fixture.addPreset("Icons", 60))
        created.editor.showingSymbolPicker = true
        const picker = findChild(created.view, "symbolPicker")
        tryCompare(picker, "opened", true)
        const field = item(created.view, "iconButton")
        const fieldRect = () => field.mapToItem(null, 0, 0, field.width, field.height)
        const shownRect = () => field.mapToItem(null, picker.x, picker.y, picker.width,
                                                picker.height)
        tryVerify(() => apart(shownRect(), fieldRect()), 5000,
                  JSON.stringify([shownRect(), fieldRect()]))
        const shown = shownRect()
        compare([picker.side, shown.y > fieldRect().y], ["below", true])
        verify(inside(shown, Qt.rect(0, 0, width, height)), JSON.stringify(shown))
        verify(picker.scrollBar.visible && picker.scrollBar.size < 1, picker.scrollBar.size)

        const scroll = item(picker.contentItem, "symbolScroll")
        const flickable = scroll.contentItem
        for (const section of picker.sections) {
            const heading = item(picker.contentItem, "section_" + section.id)
            const last = item(heading, "symbol_" + section.symbols[section.symbols.length - 1])
            flickable.contentY = Math.min(heading.y, flickable.contentHeight - flickable.height)
            const lastRect = last.mapToItem(scroll, 0, 0, last.width, last.height)
            verify(inside(lastRect, Qt.rect(0, 0, scroll.width, scroll.height)),
                   section.id + " " + JSON.stringify(lastRect))
        }
    }

    // Wherever the field is, the chooser goes below, right, left or above it, in that order of
    // preference, and with no room anywhere it shrinks into the roomiest side, never onto it.
    function test_pickerPlacement_data() {
        const window = Qt.rect(8, 8, 664, 444)
        return [
            { tag: "room below", field: Qt.rect(318, 140, 58, 28), area: window, side: "below" },
            { tag: "short below, room right", field: Qt.rect(100, 300, 58, 28),
              area: Qt.rect(8, 8, 900, 400), side: "right" },
            { tag: "room only left", field: Qt.rect(560, 300, 58, 28),
              area: Qt.rect(8, 8, 664, 400), side: "left" },
            { tag: "room only above", field: Qt.rect(318, 380, 58, 28), area: window,
              side: "above" },
            { tag: "no room: the roomiest side", field: Qt.rect(200, 150, 58, 28),
              area: Qt.rect(8, 8, 500, 330), side: "right" }
        ]
    }

    function test_pickerPlacement(data) {
        const created = scene()
        selected(created, "Icons", 60)
        const picker = findChild(created.view, "symbolPicker")
        const placed = picker.placement(data.field, data.area, 339, 600)
        const rect = Qt.rect(placed.x, placed.y, placed.width, placed.height)
        compare(placed.side, data.side)
        verify(apart(rect, data.field) && inside(rect, data.area), JSON.stringify(placed))
        verify(placed.height >= (data.tag.startsWith("no room") ? 150 : picker.minimumHeight),
               placed.height)
    }

    // Deleting an unselected row keeps the selection; the remove button selects the one left.
    function test_deleting() {
        const created = scene()
        const first = created.fixture.addPreset("First", 40)
        const second = selected(created, "Second", 80)
        deleteFromContextMenu(item(created.view, "row_" + created.fixture.addPreset("Third", 60)))
        compare([created.store.presets.length, created.editor.selectedPresetID], [2, second])
        click(created, "addButton")
        deleteFromContextMenu(item(created.view, "row_unsaved"))
        compare([created.store.presets.length, created.editor.selectedPresetID,
                 created.editor.isCreatingNew], [2, first, false])

        click(created, "removeButton")
        compare([created.store.presets.length, created.editor.selectedPresetID,
                 item(created.view, "nameField").text], [1, second, "Second"])
        click(created, "removeButton")
        compare([created.store.presets.length, item(created.view, "detailEmpty").visible,
                 created.editor.editingName, created.editor.editingValue,
                 created.editor.errorMessage], [0, true, "", 50, ""])
    }

    // A stored curve's point dragged on the chart stops a degree short of its warmer
    // neighbour, and saving stores where it stopped; the line of the current temperature
    // (47.5 °C) says what the points give there. A click on the chart adds a point.
    function test_curveDraggedOnTheChart() {
        const created = sceneWithFans()
        const id = created.fixture.addCurve("Desk")
        mouseClick(item(created.view, "curve_" + id))
        const chart = item(created.view, "curveChart")
        const handle = item(chart, "point1")
        const nowLine = item(chart, "nowLine")
        compare([created.view.curveEditor.selectedCurveID, item(created.view, "detailEmpty").visible,
                 item(created.view, "curveSaveButton").enabled, nowLine.visible,
                 item(chart, "nowText").text], [id, false, false, true, "Now 5% at 48°C"])
        fuzzyCompare(nowLine.x, chart.xOf(47.5), 0.01)

        mousePress(handle, handle.width / 2, handle.height / 2)
        for (const [celsius, percent] of [[70, 60], [80, 65], [95, 70]])
            mouseMove(chart.plot, chart.xOf(celsius), chart.yOf(percent))
        mouseRelease(chart.plot, chart.xOf(95), chart.yOf(70))
        const moved = created.view.curveEditor.points[1]
        compare(moved.celsius, 84)
        fuzzyCompare(moved.percent, 70, 1)
        compare([item(created.view, "removePointButton").enabled, item(chart, "nowText").text],
                [true, "Now 4% at 48°C"])

        click(created, "curveSaveButton")
        const stored = created.fixture.viewModel.curveStore.curves[0].points
        compare([stored.length, stored[1].celsius, stored[1].percent], [3, 84, moved.percent])

        mouseClick(chart.plot, chart.xOf(90), chart.yOf(10))
        compare(created.view.curveEditor.points[3], { celsius: 90, percent: 100 })
        verify(item(chart, "point3"))
    }
}
