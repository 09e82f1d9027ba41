#include "devicetable.h"

QMap<QString, LidarParamTypedef> buildDeviceTable()
{
    return {
        {"Alder", {115200, 0, 0, 1}},      {"Birch", {115200, 0, 3, 1}},
        {"Cedar", {115200, 0, 5, 1}},      {"Dogwood", {230400, 1, 6, 1}},
        {"Elder", {230400, 1, 0x1006, 1}}, {"Fir", {921600, 2, 7, 0}},
        {"Ginkgo", {115200, 0, 8, 2}},     {"Hazel", {115200, 0, 9, 2}},
        {"Ironwood", {115200, 1, 18, 1}},  {"Juniper", {115200, 0, 20, 1}},
        {"Kauri", {153600, 0, 24, 1}},     {"Larch", {230400, 1, 25, 1}},
        {"Maple", {921600, 2, 32, 0}},
    };
}
