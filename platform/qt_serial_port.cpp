#include "platform/qt_serial_port.h"

#include <QEventLoop>
#include <QTimer>
#include <QtGlobal>

namespace rqm5 {

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent) {
    clock_.start();
    connect(&port_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        // Time-outs are ours to judge; every other error ends the exchange.
        if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError && port_.isOpen()) {
            failure_ = port_.errorString();
        }
    });
}

QtSerialPort::~QtSerialPort() {
    Close();
}

QString QtSerialPort::DeviceForPort(int portNumber) {
    const QByteArray variable = "RQM5_COM" + QByteArray::number(portNumber);
    const QByteArray mapped = qgetenv(variable.constData());
    if (!mapped.isEmpty()) return QString::fromLocal8Bit(mapped);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

void QtSerialPort::SetPortNumber(int portNumber) {
    portNumber_ = portNumber;
}

void QtSerialPort::SetDeviceName(const QString& device) {
    deviceName_ = device;
}

QString QtSerialPort::portName() const {
    return deviceName_.isEmpty() ? DeviceForPort(portNumber_) : deviceName_;
}

void QtSerialPort::SetBaudRate(int bitsPerSecond) {
    baudRate_ = bitsPerSecond;
    if (port_.isOpen() && !port_.setBaudRate(bitsPerSecond)) {
        throw PortError("cannot set " + std::to_string(bitsPerSecond) +
                        " bit/s: " + port_.errorString().toStdString());
    }
}

void QtSerialPort::Open() {
    if (port_.isOpen()) return;
    abandoned_ = false;
    failure_.clear();
    port_.setPortName(portName());
    port_.setBaudRate(baudRate_);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        const std::string reason = port_.errorString().toStdString();
        throw PortError(portName().toStdString() + ": " + reason);
    }
    // Whatever the line held before this exchange is stale.
    port_.clear(QSerialPort::AllDirections);
    port_.readAll();
    failure_.clear();
}

void QtSerialPort::Close() {
    if (port_.isOpen()) port_.close();
}

void QtSerialPort::ThrowIfFailed() {
    if (abandoned_) throw PortError("the exchange was abandoned");
    if (!failure_.isEmpty())
        throw PortError(portName().toStdString() + ": " + failure_.toStdString());
    if (!port_.isOpen()) throw PortError(portName().toStdString() + ": the port is not open");
}

void QtSerialPort::Write(std::span<const std::uint8_t> bytes) {
    ThrowIfFailed();
    const auto written =
        port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size())) {
        throw PortError(portName().toStdString() +
                        ": write failed: " + port_.errorString().toStdString());
    }
}

std::size_t QtSerialPort::BytesWaiting() {
    ThrowIfFailed();
    return static_cast<std::size_t>(port_.bytesAvailable());
}

std::vector<std::uint8_t> QtSerialPort::ReadAll() {
    ThrowIfFailed();
    const QByteArray bytes = port_.readAll();
    return {bytes.begin(), bytes.end()};
}

bool QtSerialPort::WaitUntilWaiting(std::size_t count, Millis deadline) {
    ThrowIfFailed();
    auto enough = [&] { return static_cast<std::size_t>(port_.bytesAvailable()) >= count; };
    if (enough()) return true;
    const Millis remaining = deadline - Now();
    if (remaining.count() <= 0) return false;

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&port_, &QSerialPort::readyRead, &loop, [&] {
        if (enough()) loop.quit();
    });
    connect(&port_, &QSerialPort::errorOccurred, &loop, [&] {
        if (!failure_.isEmpty()) loop.quit();
    });
    connect(this, &QtSerialPort::abandoned, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(remaining.count()));
    loop.exec();
    ThrowIfFailed();
    return enough();
}

void QtSerialPort::Abandon() {
    abandoned_ = true;
    Close();
    emit abandoned();
}

}  // namespace rqm5
