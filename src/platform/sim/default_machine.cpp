#include "platform/sim/sim_machine.h"

namespace lenticor::sim {

const nlohmann::json& DefaultMachineDocument() {
    // A laptop with its panel as the primary display and a Nimbo on a
    // DisplayPort output to its right, still at 30 Hz as a fresh monitor
    // often comes up; the laptop's own webcam enumerates before the Nimbo's
    // camera, whose serial number the registry resolves. The Nimbo speaks
    // DDC/CI, the laptop panel (an embedded DisplayPort panel) does not.
    static const nlohmann::json document = nlohmann::json::parse(R"json({
  "adapters": [
    {
      "description": "Simulated Graphics Adapter",
      "luid": {"low": 51234, "high": 0},
      "outputs": [
        {
          "deviceName": "\\\\.\\DISPLAY1",
          "targetId": 4352,
          "outputTechnology": "displayport_embedded",
          "position": {"x": 0, "y": 0},
          "mode": {"width": 1920, "height": 1080, "refreshRate": 60, "bitsPerPixel": 32},
          "dpi": {"min": -1, "current": 0, "max": 2},
          "modes": [
            {"width": 1280, "height": 720, "refreshRate": 60},
            {"width": 1920, "height": 1080, "refreshRate": 48},
            {"width": 1920, "height": 1080, "refreshRate": 60}
          ],
          "monitor": {
            "hardwareId": "MONITOR\\LPN0A81\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0000",
            "deviceString": "Generic PnP Monitor",
            "instanceId": "4&1f2e3d4c&0&UID4352",
            "edid": {"name": "Laptop Panel"}
          }
        },
        {
          "deviceName": "\\\\.\\DISPLAY2",
          "targetId": 4353,
          "outputTechnology": "displayport",
          "position": {"x": 1920, "y": 0},
          "mode": {"width": 3840, "height": 2160, "refreshRate": 30, "bitsPerPixel": 32},
          "dpi": {"min": -2, "current": 0, "max": 5},
          "modes": [
            {"width": 1920, "height": 1080, "refreshRate": 60},
            {"width": 2560, "height": 1440, "refreshRate": 60},
            {"width": 3840, "height": 2160, "refreshRate": 30},
            {"width": 3840, "height": 2160, "refreshRate": 60}
          ],
          "monitor": {
            "hardwareId": "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001",
            "deviceString": "Generic PnP Monitor",
            "instanceId": "5&2a3b4c5d&0&UID4353",
            "edid": {"name": "Korvo Nimbo"},
            "ddc": {
              "capabilities": "(prot(monitor)type(lcd)model(Nimbo)cmds(01 02 03 07 0C E3 F3)vcp(02 04 05 08 10 12 14(05 08 0B) 16 18 1A 52 60(0F 11 12) AC AE B2 B6 C6 C8 D6(01 04 05) DF)mccs_ver(2.2))",
              "vcp": {"D6": 1, "10": {"current": 50, "maximum": 100}}
            }
          }
        }
      ]
    }
  ],
  "cameras": [
    {
      "friendlyName": "Integrated Camera",
      "devicePath": "\\\\?\\usb#vid_04f2&pid_b6dd&mi_00#6&1f0c3a2b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global"
    },
    {
      "friendlyName": "KORVO Nimbo Camera",
      "devicePath": "\\\\?\\usb#vid_5e17&pid_2c0b&mi_00#6&2d7c1b5&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
      "serialNumber": "KN24A0001",
      "containerId": "{0d9c5b2a-4a1e-4c8e-9b57-2f4a6c1d3e51}"
    }
  ],
  "usbDevices": [
    {"instanceId": "USB\\VID_04F2&PID_B6DD\\0001", "location": "Port_#0005.Hub_#0001"},
    {"instanceId": "USB\\VID_5E17&PID_2C0B\\KN24A0001", "location": "Port_#0002.Hub_#0004"},
    {"instanceId": "USB\\VID_5E17&PID_2C0B&MI_00\\6&2D7C1B5&0&0000", "location": "0000.0014.0000.002.000.000.000.000.000"}
  ]
})json");
    return document;
}

}  // namespace lenticor::sim
