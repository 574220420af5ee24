#pragma once

#include <QString>
#include <functional>

#include "link/portlisting.h"

class QComboBox;

// The window's COM list (lstPCCOM): what it shows and when it is listed again.
namespace PortList {

// What an entry of the list holds besides its text and tool-tip.
constexpr int DeviceRole = Qt::UserRole;   // the device behind the COM number

// Fills `list` from a fresh listing. A port that can be opened is an entry with its device
// as tool-tip; one that exists but cannot be opened is an entry that cannot be chosen, with
// the reason as tool-tip. The chosen entry stays while its COM number still names the same
// device. `notice` gets what the user should learn on the status line: why the chosen entry
// had to go, why the ports folder was passed over, that no port is left.
PortListing::Listing fill(QComboBox *list, QString *notice, PortListing::Check check = PortListing::Check::WithoutOpening);
// The port the chosen entry names, as its listing gave it; invalid when none is chosen.
ComPorts::Port chosenPort(const QComboBox *list);

// Lists `list` again each time the user opens it (a click on it, F4, Alt+Down or Space),
// while `mayList` says so, without opening any port; `tell` gets the notice for the status
// line.
void listOnOpen(QComboBox *list, std::function<bool()> mayList, std::function<void(const QString &)> tell);

// The listing `fill` made last for this list.
PortListing::Listing lastListing(const QComboBox *list);

// The start-up box's text when no port can be opened: its first line, then a line for every
// port that exists but cannot be opened (COM name, device, reason and what to do), and why
// the ports folder was passed over.
QString noPortsText(const PortListing::Listing &listing);

} // namespace PortList
