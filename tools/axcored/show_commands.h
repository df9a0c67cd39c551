// The core process's show commands for the command-line client: the ports
// of the simulated chip and the device's identity and images.
#pragma once

namespace axcored {

// Registers "coreShowInterfaces", "coreShowInterfacesStatus" and
// "coreShowVersion" with the management interface; 0 or the failure.
int register_show_commands();

}  // namespace axcored
