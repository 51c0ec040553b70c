#pragma once

#include "cloud_service/cloud_service.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

// torvane-cloud inside the benchmark's process: a data folder of its own, an SMS program that
// keeps the last code it was handed, and the service serving 127.0.0.1 on a free port on a
// thread of its own until the object goes.
class ServiceOnLoopback {
public:
    ServiceOnLoopback() {
        const QString sms = dir_.filePath(QStringLiteral("sms"));
        QFile script(sms);
        if (!dir_.isValid() || !script.open(QIODevice::WriteOnly))
            return;
        script.write("#!/bin/sh\nprintf '%s\\n' \"$2\" > \"$(dirname \"$0\")/code\"\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ExeOwner);
        const QString data = dir_.filePath(QStringLiteral("data"));
        QDir().mkpath(data);
        CloudService::Settings settings;
        settings.dataFolder = data.toStdString();
        settings.smsProgram = sms.toStdString();
        service_ = std::make_unique<CloudService>(settings);
        std::string error;
        if (!service_->open(error)) {
            std::fprintf(stderr, "cannot open the service's data: %s\n", error.c_str());
            return;
        }
        port_ = service_->bind("127.0.0.1", 0);
        if (port_ > 0)
            thread_ = std::thread([this] { service_->serve(); });
    }

    ~ServiceOnLoopback() {
        if (thread_.joinable()) {
            service_->stop();
            thread_.join();
        }
    }

    ServiceOnLoopback(const ServiceOnLoopback&) = delete;
    ServiceOnLoopback& operator=(const ServiceOnLoopback&) = delete;

    // The port it serves on; 0 or less when it could not start.
    int port() const { return port_; }

    // The code of the last "sendsms".
    QString lastSmsCode() const {
        QFile file(dir_.filePath(QStringLiteral("code")));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed())
                                              : QString();
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<CloudService> service_;
    std::thread thread_;
    int port_ = -1;
};
