#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "link/serial_port.h"

namespace rqm5 {

// The serial port on QSerialPort. Its wait runs a local event loop that wakes on arriving bytes,
// on a port error and on one timer for the deadline: nothing polls, and the window keeps
// repainting and answering its menu while an exchange waits.
class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
  public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    // COMn names COMn on Windows and /dev/ttyS(n-1) elsewhere, unless the environment variable
    // RQM5_COMn names another device (RQM5_COM1=/dev/ttyUSB0).
    static QString DeviceForPort(int portNumber);

    void SetPortNumber(int portNumber) override;
    // A device path or "COMn" chosen directly (the command-line flasher); overrides the number.
    void SetDeviceName(const QString& device);
    void SetBaudRate(int bitsPerSecond) override;
    int BaudRate() const override { return baudRate_; }

    bool IsOpen() const override { return port_.isOpen(); }
    void Open() override;
    void Close() override;

    void Write(std::span<const std::uint8_t> bytes) override;
    std::size_t BytesWaiting() override;
    std::vector<std::uint8_t> ReadAll() override;

    Millis Now() const override { return Millis(clock_.elapsed()); }
    bool WaitUntilWaiting(std::size_t count, Millis deadline) override;

    // Gives up the running exchange: the port closes, and the wait in progress (and every port
    // operation after it, until the next Open) fails with PortError.
    void Abandon() override;

  signals:
    void abandoned();

  private:
    void ThrowIfFailed();
    QString portName() const;

    QSerialPort port_;
    QElapsedTimer clock_;
    QString deviceName_;
    int portNumber_ = 1;
    int baudRate_ = 38400;
    bool abandoned_ = false;
    QString failure_;  // the last fatal error of the open port, empty when none
};

}  // namespace rqm5
