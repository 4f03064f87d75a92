import QtQuick
import QtTest
import Zephro.PopoverTest

// Content taller than the popover may be scrolls inside it; content that fits again is
// laid out at its own height.
PopoverTestCase {
    name: "Overflow"

    function test_scrollsWhileTooTall_data() {
        const serve = fans => scene => { scene.fixture.serveFans(fans); scene.fixture.poll() }
        const toggleOptions = scene => click(scene, "optionsRow")
        return [
            { tag: "fans", grow: serve(6), shrink: serve(1) },
            { tag: "presets",
              grow: scene => { for (let i = 0; i < 6; ++i) scene.fixture.addPreset("Preset " + i, 50) },
              shrink: scene => scene.fixture.viewModel.presetStore.presets.forEach(
                          preset => scene.fixture.deletePreset(preset.id)) },
            { tag: "options panel", grow: toggleOptions, shrink: toggleOptions }
        ]
    }

    function test_scrollsWhileTooTall(data) {
        const scene = connectedScene(1)
        const view = scene.view
        const scroller = item(view, "scroller")
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
