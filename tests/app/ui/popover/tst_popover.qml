import QtQuick
import QtTest
import Zephro.Popover
import Zephro.PopoverTest
import Zephro.Ui
import Zephro.ViewModel

PopoverTestCase {
    name: "Popover"

    function test_dragCommitsOnceAtItsEnd_data() {
        return [
            { tag: "quarters, nearest above", fineTune: false, from: 0, to: 0.6, value: 75 },
            { tag: "quarters, nearest below", fineTune: false, from: 1, to: 0.45, value: 50 },
            { tag: "fine, between quarters", fineTune: true, from: 0, to: 16 / 75, value: 41 },
            { tag: "fine, past the start", fineTune: true, from: 0.8, to: -0.1, value: 25 },
            { tag: "fine, past the end", fineTune: true, from: 0.5, to: 1.1, value: 100 }
        ]
    }

    function test_dragCommitsOnceAtItsEnd(data) {
        const scene = connectedScene(2)
        const viewModel = scene.fixture.viewModel
        scene.fixture.settings.fineTuneManualOverride = data.fineTune
        click(scene, "mode_popover_manual")
        settled(scene, 1)
        verify(item(scene.view, "mode_popover_manual").isActive)
        const row = item(scene.view, "fanRow0")
        const before = Array.from(viewModel.sliderPercentages)

        const release = dragSlider(item(row, "slider"), data.from, data.to)
        compare([item(row, "percentage").text, Array.from(viewModel.sliderPercentages),
                 viewModel.isApplyingChange, scene.fixture.setModeCount],
                [data.value + "%", before, false, 1], "a change was sent during the drag")
        release()
        settled(scene, 2)
        compare([scene.fixture.lastChange, item(row, "percentage").text],
                [[FanControlViewModel.Manual, data.value, before[1]], data.value + "%"])
    }

    // A preset in force is highlighted instead of a mode button, and is the subtitle until deleted.
    function test_slidersStayPutOutsideManualMode_data() {
        return [
            { tag: "system", press: "mode_popover_auto", subtitle: "popover_mode_system" },
            { tag: "max", press: "mode_popover_max", shown: 100, subtitle: "popover_mode_max" },
            { tag: "preset", press: "preset0", shown: 60 }
        ]
    }

    function test_slidersStayPutOutsideManualMode(data) {
        const scene = connectedScene(2)
        scene.fixture.addPreset("Quiet", 60)
        click(scene, data.press)
        settled(scene, 1)
        for (const name of ["mode_popover_auto", "mode_popover_manual", "mode_popover_max", "preset0"]) {
            const button = item(scene.view, name)
            compare(name === "preset0" ? button.isSelected : button.isActive, name === data.press, name)
        }
        const subtitle = data.subtitle ? Localization.string(data.subtitle) : "Quiet"
        compare(item(scene.view, "subtitle").text, subtitle)

        const slider = item(item(scene.view, "fanRow1"), "slider")
        const percentage = item(item(scene.view, "fanRow1"), "percentage")
        const shown = scene.fixture.viewModel.sliderPercentages[1]
        compare([shown, percentage.text, slider.enabled, item(item(scene.view, "fanRow0"), "slider").enabled],
                [data.shown ?? shown, shown + "%", false, false])
        const target = shown === 100 ? 0 : 1
        dragSlider(slider, 1 - target, target)()
        compare([scene.fixture.viewModel.isApplyingChange, scene.fixture.setModeCount, percentage.text],
                [false, 1, shown + "%"], "a disabled slider sent a change")

        const presets = scene.fixture.viewModel.presetStore.presets
        scene.fixture.deletePreset(scene.fixture.addPreset("Loud", 90))
        compare(item(scene.view, "subtitle").text, subtitle)
        scene.fixture.deletePreset(presets[0].id)
        tryCompare(item(scene.view, "subtitle"), "text",
                   data.subtitle ? subtitle : Localization.string("popover_mode_manual"))
    }

    // No helper to enable is offered: enabling it would not help.
    function test_aRefusedChangeSaysWhy_data() {
        return [
            { tag: "not authorized", refusal: ConnectionState.NotAuthorized, text: "popover_not_authorized_desc" },
            { tag: "read-only fans", refusal: ConnectionState.ReadOnlyFans, text: "popover_fans_read_only_desc" }
        ]
    }

    function test_aRefusedChangeSaysWhy(data) {
        const created = connectedScene(2)
        created.fixture.refuseChanges(data.refusal)
        click(created, "mode_popover_max")
        const section = item(created.view, "stateSection")
        tryVerify(() => section.item && section.item.objectName === "error")
        compare([item(section.item, "text").text, item(section.item, "action").visible,
                 created.fixture.setModeCount], [Localization.string(data.text), false, 0])
    }

    // The status item is never left empty: without texts the icon switch is on and locked.
    function test_menuBarIconSwitch_data() {
        const row = (tag, rpm, temp, icon, shown, press, stored, shownAfter) =>
            ({ tag, rpm, temp, icon, shown, press, stored, shownAfter })
        return [
            row("no text, icon stored off", false, false, false, true, "showIcon", true, true),
            row("RPM shown", true, false, true, true, "showIcon", false, false),
            row("temperature shown, icon off", false, true, false, false, "showIcon", true, true),
            row("hiding the last text", true, false, false, false, "showRPM", true, true),
            row("hiding one of two texts", true, true, false, false, "showRPM", false, false)
        ]
    }

    function test_menuBarIconSwitch(data) {
        const created = scene()
        const settings = created.fixture.settings
        settings.showRPMInMenuBar = data.rpm
        settings.showTempInMenuBar = data.temp
        settings.showIconInMenuBar = data.icon
        click(created, "optionsRow")
        tryVerify(() => created.view.optionsExpanded && created.view.isOptionsContentVisible)
        const switchOf = option => item(item(created.view, option), "switch")
        compare(switchOf("showIcon").checked, data.shown)
        mouseClick(switchOf(data.press))
        compare([settings.showRPMInMenuBar, settings.showIconInMenuBar, switchOf("showIcon").checked],
                [data.rpm && data.press !== "showRPM", data.stored, data.shownAfter])
    }

    // The palettes of both appearances and a desktop theme of its own.
    function test_secondaryTextIsReadableButQuieter_data() {
        return [
            { tag: "light", window: "#ececec", text: "#1d1d1f" },
            { tag: "dark", window: "#1e1e1e", text: "#f2f2f2" },
            { tag: "desktop theme", window: "#2b303b", text: "#c0c5ce" }
        ]
    }

    function test_secondaryTextIsReadableButQuieter(data) {
        const palette = { window: Qt.color(data.window), windowText: Qt.color(data.text) }
        const secondary = Theme.secondaryText(palette)
        const contrast = Theme.contrast(secondary, palette.window)
        verify(contrast >= 4.5 && contrast < Theme.contrast(palette.windowText, palette.window),
               "contrast " + contrast)
    }

    // An empty list says so under its heading; every list's rows are one height apart.
    function test_presetsAndMenuRows() {
        const scene = connectedScene(1)
        const empty = item(scene.view, "noPresets")
        compare([empty.visible, empty.text], [true, Localization.string("preset_nothing_to_show")])
        scene.fixture.addPreset("Quiet", 60)
        tryCompare(empty, "visible", false)
        click(scene, "optionsRow")
        click(scene, "languageRow")
        tryVerify(() => scene.view.isOptionsContentVisible && scene.view.isLanguageContentVisible)
        const pitch = (first, second) => item(scene.view, second).mapToItem(null, 0, 0).y
                                         - item(scene.view, first).mapToItem(null, 0, 0).y
        const heights = ["preset0", "optionsRow", "quit", "language_en"].map(
            name => item(scene.view, name).height)
        compare(heights.concat([pitch("showRPM", "showTemp"), pitch("language_en", "language_fil")]),
                Array(6).fill(heights[0]))
    }

    // The header's fan turns only while it is fast enough to and someone can see it.
    function test_fanTurnsOnlyWhileFastAndShown() {
        const scene = connectedScene(1)
        const fan = item(scene.view, "fanGlyph")
        const cases = [[3000, true, true], [90, true, false], [2000, false, false], [2000, true, true]]
        for (const [rpm, visible, turning] of cases) {
            fan.rpm = rpm
            fan.visible = visible
            tryCompare(fan, "turning", turning, 5000, rpm + " RPM, visible " + visible)
        }
        const angle = fan.rotation
        tryVerify(() => fan.rotation !== angle, 5000, "the fan turns")
        compare([fan.stepFor(1000), fan.stepFor(2000), fan.stepFor(6000)], [18, 36, 40])
    }

    // Content that fits again is laid out at its own height.
    function test_scrollsWhileTooTall_data() {
        const serve = fans => scene => { scene.fixture.serveFans(fans); scene.fixture.poll() }
        const toggleOptions = scene => click(scene, "optionsRow")
        return [
            { tag: "fans", grow: serve(6), shrink: serve(1) },
            { tag: "options panel", grow: toggleOptions, shrink: toggleOptions }
        ]
    }

    function test_scrollsWhileTooTall(data) {
        const scene = connectedScene(1)
        const view = scene.view
        const scroller = item(view, "scroller")
        // The header lays out its subtitle a pass after the controls appear.
        item(view, "subtitle")
        scene.maxHeight = view.measuredContentHeight + 4
        compare([view.isOverflowing, scroller.interactive], [false, false])
        data.grow(scene)
        tryVerify(() => view.isOverflowing)
        compare([view.height, scroller.interactive], [scene.maxHeight, true])
        mouseWheel(scroller, scroller.width / 2, scroller.height / 2, 0, -240)
        tryVerify(() => scroller.contentY > 0)
        data.shrink(scene)
        tryVerify(() => !view.isOverflowing)
        compare([view.height, scroller.interactive], [view.measuredContentHeight, false])
        tryCompare(scroller, "contentY", 0)
    }
}
