import QtQuick
import QtTest
import Zephro.Popover
import Zephro.PopoverTest

// Fresh scenes of the popover (or another view over its fixture), with the waits tests need.
TestCase {
    id: testCase

    // A test case hides itself; the scenes it makes must be visible to take the mouse.
    visible: true
    width: 320
    height: 1200
    when: windowShown

    // The view is declared first so that it goes before its view model.
    property Component sceneComponent: Component {
        Item {
            readonly property alias view: view
            readonly property alias fixture: fixture
            property alias maxHeight: view.maxHeight

            width: view.width
            height: view.height

            FanControlPopoverView {
                id: view
                width: implicitWidth
                height: implicitHeight
                viewModel: fixture.viewModel
                settings: fixture.settings
                updateManager: fixture.updateManager
                maxHeight: 1100
                reduceMotion: true
            }
            PopoverFixture { id: fixture }
        }
    }

    function scene() {
        return createTemporaryObject(sceneComponent, testCase)
    }

    function connectedScene(fans) {
        const created = scene()
        created.fixture.serveFans(fans)
        created.fixture.poll()
        const section = item(created.view, "stateSection")
        tryVerify(() => section.item && section.item.objectName === "fanControls"
                  && created.fixture.viewModel.fans.length === fans)
        return created
    }

    // The named item once the layouts above it have placed it, so the mouse finds it.
    function item(parent, name) {
        const found = findChild(parent, name)
        verify(found, "no item named " + name)
        for (let up = found; up; up = up.parent)
            verify(waitForItemPolished(up), "still laying out " + name)
        return found
    }

    function click(scene, name) {
        mouseClick(item(scene.view, name))
    }

    // Once every change sent has been answered, how many reached the helper in all.
    function settled(scene, changes) {
        tryVerify(() => !scene.fixture.viewModel.isApplyingChange
                  && scene.fixture.setModeCount >= changes)
        compare(scene.fixture.setModeCount, changes)
    }

    // Presses at `from` and moves to `to` (fractions of the track); returns the release.
    function dragSlider(slider, from, to) {
        const at = fraction => slider.leftPadding + slider.handle.width / 2
                 + fraction * (slider.availableWidth - slider.handle.width)
        const y = slider.height / 2
        mousePress(slider, at(from), y)
        for (let step = 1; step <= 4; ++step)
            mouseMove(slider, at(from + (to - from) * step / 4), y)
        return () => mouseRelease(slider, at(to), y)
    }
}
