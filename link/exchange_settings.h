#pragma once

#include <string>

namespace rqm5 {

// What the exchanges read from the window's controls, at the moment each exchange runs.
class ExchangeSettings {
  public:
    virtual ~ExchangeSettings() = default;

    // The checked COM entry, 1..16; 17 when none is checked.
    virtual int GetCOM() const = 0;
    // Whether the line-speed option `option` is selected: 0 = 9600, 1 = 38400, 2 = 57600.
    virtual bool IsRateSelected(int option) const = 0;
    // The pin-number box: the pin for port control, and the service code.
    virtual std::string PinText() const = 0;
    // The selected port action, 0..3 (output low, output high, input, read).
    virtual int SelectedPortAction() const = 0;
};

// Settings fixed at construction, for the command-line flasher and the tests.
class FixedSettings : public ExchangeSettings {
  public:
    int portNumber = 1;
    int rateOption = 2;
    std::string pinText;
    int portAction = 3;

    int GetCOM() const override { return portNumber; }
    bool IsRateSelected(int option) const override { return option == rateOption; }
    std::string PinText() const override { return pinText; }
    int SelectedPortAction() const override { return portAction; }
};

}  // namespace rqm5
