#pragma once

#include "core/cloud/cloud_api.h"

#include <QString>

// The form of an "update" request storing one server at `ip` and `port` under `account`,
// with short fixed values in the other fields.
inline CloudApi::FormFields serverFields(const CloudApi::Account& account, const QString& ip,
                                         const QString& port) {
    using namespace Qt::StringLiterals;
    return CloudApi::accountBody(account, {{u"server_class"_s, u"g"_s},
                                           {u"server_name"_s, u"n"_s},
                                           {u"server_ip"_s, ip},
                                           {u"start_time"_s, u"s"_s},
                                           {u"end_time"_s, u"e"_s},
                                           {u"remark"_s, u"r"_s},
                                           {u"system"_s, u"linux"_s},
                                           {u"sort"_s, u"50"_s},
                                           {u"server_port"_s, port},
                                           {u"server_user"_s, u"root"_s},
                                           {u"server_pass"_s, u"5F50137C3"_s}});
}
