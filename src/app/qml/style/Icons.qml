pragma Singleton
import QtQuick

// Symbol names used by the views, mapped to glyphs of the bundled icon font. Names ending in
// ".fill" take the filled glyph; plain names take the outlined one where the font has both.
QtObject {
    readonly property var glyphs: ({
        "arrow.clockwise": "\ue5d5",
        "arrow.right": "\ue5c8",
        "calendar": "\ue935",
        "chart.bar.fill": "\ue26b",
        "checkmark": "\ue5ca",
        "checkmark.circle": "\ue92d",
        "checkmark.circle.fill": "\ue86c",
        "checkmark.seal": "\uef76",
        "clock": "\ue8b5",
        "clock.arrow.circlepath": "\ue889",
        "desktopcomputer": "\ue30b",
        "desktopcomputer.trianglebadge.exclamationmark": "\ue99d",
        "doc.badge.arrow.up": "\ue9fc",
        "doc.fill": "\ue24d",
        "envelope": "\ue0e1",
        "envelope.badge": "\uf18a",
        "exclamationmark.circle": "\ue001",
        "exclamationmark.circle.fill": "\ue000",
        "exclamationmark.triangle.fill": "\ue002",
        "folder": "\ue2c8",
        "folder.fill": "\ue2c7",
        "gearshape": "\ue8b8",
        "hourglass": "\ue88b",
        "key": "\ue73c",
        "key.fill": "\ue0da",
        "lock": "\ue899",
        "lock.fill": "\ue897",
        "lock.open": "\ue898",
        "lock.open.fill": "\ue898",
        "number": "\ue9ef",
        "person.crop.circle.fill": "\ue853",
        "plus": "\ue145",
        "rectangle.portrait.and.arrow.right": "\ue9ba",
        "shield": "\ue9e0",
        "shield.lefthalf.filled": "\ue32a",
        "tray.and.arrow.down.fill": "\ue168",
        "trash": "\ue92e",
        "trash.fill": "\ue872"
    })

    function has(name) { return glyphs[name] !== undefined }
    function glyph(name) { return has(name) ? glyphs[name] : "" }
}
