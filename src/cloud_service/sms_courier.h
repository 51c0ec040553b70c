#pragma once

#include <string>

// Hands a new SMS code to the operator, since the service cannot send text messages itself:
// without a program it writes the line "sms code for PHONE: CODE" to the service log; with
// one, it runs that program with the phone number and the code as its two arguments (no
// shell) and waits up to ten seconds for it to end with status 0.
class SmsCourier {
public:
    explicit SmsCourier(std::string program = {}) : program_(std::move(program)) {}

    // False when the program could not be started, failed or took too long.
    bool deliver(const std::string& phone, const std::string& code) const;

private:
    bool runProgram(const std::string& phone, const std::string& code) const;

    std::string program_;
};
