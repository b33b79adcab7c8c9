import QtQuick
import Korvo
import "../style/Format.js" as Format

// This month's protect and open figures of the signed-in account.
Column {
    id: root
    readonly property var record: KorvoStore.dataConsumption
    readonly property bool hasRecord: KorvoStore.hasDataConsumption
    spacing: 6

    // Each time the card is shown, fetch the figures when there are none.
    function refreshIfMissing() {
        if (visible && !KorvoStore.hasDataConsumption)
            KorvoStore.refreshDataConsumption()
    }
    onVisibleChanged: refreshIfMissing()
    Component.onCompleted: refreshIfMissing()

    KorvoText {
        text: "DATA USE"
        size: KorvoTheme.captionSize
        weight: Font.DemiBold
        color: KorvoTheme.textMuted
        leftPadding: 4
    }
    MaterialBox {
        width: parent.width
        height: body.implicitHeight + 22

        Column {
            id: body
            anchors.fill: parent
            anchors.margins: 11
            spacing: 8

            Item {
                width: parent.width
                height: 22
                SymbolLabel {
                    anchors.verticalCenter: parent.verticalCenter
                    icon: "chart.bar.fill"
                    text: "This month"
                    size: 12
                    iconSize: 13
                    spacing: 4
                }
                KorvoText {
                    objectName: "planName"
                    anchors.right: refresh.left
                    anchors.rightMargin: 6
                    anchors.verticalCenter: parent.verticalCenter
                    text: root.hasRecord ? Format.planName(root.record.planId) : ""
                    size: 11
                    weight: Font.DemiBold
                    color: KorvoTheme.accent
                }
                CircleIconButton {
                    id: refresh
                    objectName: "refreshDataUse"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    diameter: 22
                    fillOpacity: 0.06
                    helpText: "Refresh data use"
                    onClicked: KorvoStore.refreshDataConsumption()
                }
            }
            SymbolLabel {
                visible: root.hasRecord && text.length > 0
                icon: "calendar"
                text: root.hasRecord ? Format.resetsText(root.record.periodEnd) : ""
                size: 11
                iconSize: 12
                weight: Font.Medium
                spacing: 4
                color: KorvoTheme.textMuted
            }

            // Side by side where both fit with their figures on one row; one above the other in
            // the sidebar's width.
            Grid {
                id: gauges
                objectName: "gauges"
                readonly property real gaugeWidth: (width - (columns - 1) * columnSpacing) / columns
                visible: root.hasRecord
                width: parent.width
                columns: width >= 2 * 190 + columnSpacing ? 2 : 1
                columnSpacing: 10
                rowSpacing: 10
                UsageGauge {
                    width: gauges.gaugeWidth
                    title: "Protect"
                    systemImage: "lock.fill"
                    stats: root.record.encryption || ({})
                }
                UsageGauge {
                    width: gauges.gaugeWidth
                    title: "Open"
                    systemImage: "lock.open.fill"
                    stats: root.record.decryption || ({})
                }
            }
            Item {
                objectName: "dataUseLoading"
                visible: !root.hasRecord && KorvoStore.isDataConsumptionLoading
                width: parent.width
                height: 56
                Row {
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 8
                    Spinner { diameter: 14; anchors.verticalCenter: parent.verticalCenter }
                    KorvoText { text: "Checking data use..."; size: 12; weight: Font.Medium; color: KorvoTheme.textMuted }
                }
            }
            Item {
                visible: !root.hasRecord && !KorvoStore.isDataConsumptionLoading
                width: parent.width
                height: Math.max(56, missing.implicitHeight)
                SymbolLabel {
                    id: missing
                    objectName: "dataUseMissing"
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width
                    icon: "exclamationmark.circle"
                    text: KorvoStore.dataConsumptionError.length > 0 ? KorvoStore.dataConsumptionError
                                                                      : "Data use will appear here."
                    size: 11
                    iconSize: 13
                    weight: Font.Medium
                    color: KorvoTheme.textMuted
                    label.wrapMode: Text.Wrap
                    label.elide: Text.ElideNone
                    label.width: width - 20
                }
            }
        }
    }
}
