#pragma once
// Resource types and identifiers of the payload the executable carries. Shared by the code
// and the resource script, so it holds plain macros only.
//
//   type                id    content                        written as
//   ZELVAN_INSTALLER    101   product package                kzt<version>.msi (staging folder)
//   ZELVAN_CAB9         110   cabinet                        ss<numbers>0.cab
//   ZELVAN_CAB10        111   cabinet                        st<numbers>0.cab
//   ZELVAN_CAB7         108   cabinet                        sj<numbers>0.cab
//   ZELVAN_CAB8         109   cabinet                        sp<numbers>0.cab
//   ZELVAN_CAB11        112   cabinet                        sz<numbers>0.cab
//   ZELVAN_CAB12        113   cabinet                        sb<numbers>0.cab
//   ZELVAN_CAB13        114   cabinet                        sr<numbers>0.cab
//   ZELVAN_INSTALLER    1119  update-service package         au.msi (update-service folder)
//   ZELVAN_INSTALLER    1120  update-service cabinet         au.cab (update-service folder)
//
// <version> is ProductVersion, <numbers> its four numbers written one after the other.

#define PAYLOAD_TYPE_INSTALLER "ZELVAN_INSTALLER"
#define PAYLOAD_TYPE_CAB7 "ZELVAN_CAB7"
#define PAYLOAD_TYPE_CAB8 "ZELVAN_CAB8"
#define PAYLOAD_TYPE_CAB9 "ZELVAN_CAB9"
#define PAYLOAD_TYPE_CAB10 "ZELVAN_CAB10"
#define PAYLOAD_TYPE_CAB11 "ZELVAN_CAB11"
#define PAYLOAD_TYPE_CAB12 "ZELVAN_CAB12"
#define PAYLOAD_TYPE_CAB13 "ZELVAN_CAB13"

#define PAYLOAD_ID_PRODUCT_PACKAGE 101
#define PAYLOAD_ID_CAB7 108
#define PAYLOAD_ID_CAB8 109
#define PAYLOAD_ID_CAB9 110
#define PAYLOAD_ID_CAB10 111
#define PAYLOAD_ID_CAB11 112
#define PAYLOAD_ID_CAB12 113
#define PAYLOAD_ID_CAB13 114
#define PAYLOAD_ID_UPDATE_SERVICE_PACKAGE 1119
#define PAYLOAD_ID_UPDATE_SERVICE_CABINET 1120

// The string shown when the installer engine is too old, and the icon group.
#define STRING_ID_ENGINE_TOO_OLD 4
#define ICON_GROUP_ID_APPLICATION 115
