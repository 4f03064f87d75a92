import QtQuick
import QtTest
import Zephro.PopoverTest

// Content taller than the popover may be scrolls inside it; content that fits again is
// laid out at its own height.
PopoverTestCase {
    name: "Overflow"

    function test_scrollsWhileTooTall_data() {
        return [
            { tag: "fans",
              grow: scene => { scene.fixture.serveFans(6); scene.fixture.poll() },
              shrink: scene => { scene.fixture.serveFans(1); scene.fixture.poll() } },
            { tag: "presets",
              grow: scene => {
                  for (let i = 0; i < 6; ++i)
                      scene.fixture.addPreset("Preset " + i, 50)
              },
              shrink: scene => {
                  for (const preset of scene.fixture.viewModel.presetStore.presets)
                      scene.fixture.deletePreset(preset.id)
              } },
            { tag: "options panel",
              grow: scene => click(scene, "optionsRow"),
              shrink: scene => click(scene, "optionsRow") }
        ]
    }

    function test_scrollsWhileTooTall(data) {
        const scene = connectedScene(1)
        const view = scene.view
        const scroller = item(view, "scroller")
        scene.maxHeight = view.measuredContentHeight + 4
        verify(!view.isOverflowing)
        verify(!scroller.interactive)

        data.grow(scene)
        tryVerify(() => view.isOverflowing)
        compare(view.height, scene.maxHeight)
        verify(scroller.interactive)
        mouseWheel(scroller, scroller.width / 2, scroller.height / 2, 0, -240)
        tryVerify(() => scroller.contentY > 0)

        data.shrink(scene)
        tryVerify(() => !view.isOverflowing)
        compare(view.height, view.measuredContentHeight)
        verify(!scroller.interactive)
        tryCompare(scroller, "contentY", 0)
    }
}
