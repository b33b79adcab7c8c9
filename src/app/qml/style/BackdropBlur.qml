import QtQuick
import Qt5Compat.GraphicalEffects

// The window's own content, blurred, as the material behind an overlay, alert or sheet.
// `content` defaults to the window's root item, which never contains popups; it must sit at the
// same place as the blur.
FastBlur {
    id: blur
    property Item content: Window.window && Window.window.contentItem.children.length > 0
                           ? Window.window.contentItem.children[0] : null
    radius: 48
    visible: content !== null
    source: content
}
