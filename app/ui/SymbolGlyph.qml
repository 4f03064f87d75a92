import QtQuick
import Zephro.Ui

// One symbol by name, in the text colour unless told otherwise.
SymbolImage {
    color: palette.windowText
}
