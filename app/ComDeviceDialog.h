#pragma once
// "COM n device": the operator chooses which device COM n means. It lists the serial ports
// the system has (an adapter is kept by its /dev/serial/by-id name when it has one, so the
// choice survives another USB socket), takes any other port name in a field, or goes back
// to the platform default. OK and "Default" save the operator's map; Cancel changes nothing.
#include <QDialog>
#include <functional>
#include <vector>

#include "platform/ComPorts.h"

class QLabel;
class QLineEdit;
class QTreeWidget;

namespace dpx {

class ComDeviceDialog : public QDialog {
    Q_OBJECT
public:
    // What platform::ListSerialPorts() reports (tests pass their own); asked again by "Refresh".
    using PortLister = std::function<std::vector<platform::SerialPortEntry>()>;
    ComDeviceDialog(int n, PortLister list_ports, QWidget* parent = nullptr);

    QTreeWidget* port_list() const { return list_; }
    QLineEdit* name_field() const { return field_; }
    QLabel* problem_label() const { return problem_; }

    // OK: saves the field's name if CheckPortName takes it; otherwise says why and stays open.
    void accept() override;
    // "Default": removes COM n from the map and closes.
    void ChooseDefault();
    // "Refresh": lists the ports again; the field stays as it is.
    void Refresh();

protected:
    // However it closes, the dialog's size is kept per user for the next time.
    void done(int result) override;

private:
    // The width that shows every column of the list in full.
    int WidthForColumns() const;

    int n_;
    PortLister list_ports_;
    std::vector<platform::SerialPortEntry> ports_;
    QTreeWidget* list_;
    QLineEdit* field_;
    QLabel* problem_;
};

}  // namespace dpx
