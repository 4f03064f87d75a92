import QtQuick
import Zephro.Ui

// A preset's or a curve's icon: emptySymbol (the fan) when it has none, the symbol it names
// when the catalog knows it, and otherwise the text itself (an emoji).
Item {
    id: icon

    property string symbol
    property string emptySymbol: "fan.fill"
    property real size: 15
    property color color: palette.windowText
    readonly property bool isGlyph: symbol.length === 0 || Symbols.contains(symbol)

    implicitWidth: size + 6
    implicitHeight: size + 4

    SymbolGlyph {
        objectName: "iconGlyph"
        anchors.centerIn: parent
        visible: icon.isGlyph
        name: icon.symbol.length > 0 ? icon.symbol : icon.emptySymbol
        size: icon.size
        color: icon.color
    }
    Text {
        objectName: "iconText"
        anchors.centerIn: parent
        visible: !icon.isGlyph
        text: icon.symbol
        font.pixelSize: icon.size - 1
        width: Math.min(implicitWidth, icon.width)
        elide: Text.ElideRight
        horizontalAlignment: Text.AlignHCenter
        color: icon.color
    }
}
