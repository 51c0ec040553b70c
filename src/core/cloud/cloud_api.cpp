#include "core/cloud/cloud_api.h"

#include "core/codec/gbk_codec.h"
#include "core/support/log_categories.h"

#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace {

const QString kScriptPath = u"/admin/user_reg.php?act="_s;

bool isSuccessStatus(int status) {
    return status >= 200 && status < 300;
}

} // namespace

namespace CloudApi {

QByteArray formBody(const FormFields& fields) {
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body +=
            Gbk::encode(name).toPercentEncoding() + '=' + Gbk::encode(value).toPercentEncoding();
    }
    return body;
}

QString replyText(const QByteArray& bytes) {
    // The decoder's default drops a byte-order mark at the start.
    return QStringDecoder(QStringDecoder::Utf8).decode(bytes);
}

FormFields accountBody(const Account& account, const FormFields& extra) {
    FormFields fields{{u"username"_s, account.username}, {u"password"_s, account.password}};
    fields += extra;
    return fields;
}

Reply request(const Service& service, const QString& act, HttpMethod method, const FormFields& body,
              const JobStop* stop) {
    HttpRequest http;
    http.url = service.baseAddress + kScriptPath + act;
    http.method = method;
    http.bodyBytes = formBody(body);
    http.stop = stop;
    const HttpResponse response = HttpClient::request(http);

    Reply reply;
    reply.text = replyText(response.bytes);
    if (!response.complete) {
        reply.failure = response.statusText;
        qCInfo(lcCloud) << "no answer to" << act << ":" << reply.failure;
    } else if (!isSuccessStatus(response.statusCode)) {
        reply.errorStatus = response.statusCode;
        qCInfo(lcCloud) << act << "answered" << response.statusText;
    }
    return reply;
}

bool succeeded(const Reply& reply) {
    return reply.answered() && reply.text.contains(u"True"_s);
}

} // namespace CloudApi
