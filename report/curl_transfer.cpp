// libcurl easy transfers, one handle per call. The server's reply lines are collected
// through the debug callback (incoming header data only, so the AUTH line with the
// password never passes through our code) to name what the server said.
#include "report/curl_transfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "report/smtp_client.h"

namespace zelvik::report {
namespace {

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

Easy new_easy() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return Easy(curl_easy_init());
}

List append(List list, const std::string& text) {
    curl_slist* grown = curl_slist_append(list.get(), text.c_str());
    if (grown == nullptr) return list;
    (void)list.release();
    return List(grown);
}

// Everything one transfer's callbacks touch.
struct Exchange {
    std::string upload;
    size_t sent = 0;
    std::string replies;  // the server's lines, the last few kept
    std::string body;     // HTTP response body, the first bytes kept
    const std::atomic<bool>* cancel = nullptr;
    char error[CURL_ERROR_SIZE] = {};
};

size_t read_upload(char* buffer, size_t size, size_t count, void* user) {
    auto* x = static_cast<Exchange*>(user);
    const size_t n = std::min(size * count, x->upload.size() - x->sent);
    std::memcpy(buffer, x->upload.data() + x->sent, n);
    x->sent += n;
    return n;
}

size_t keep_body(char* data, size_t size, size_t count, void* user) {
    auto* x = static_cast<Exchange*>(user);
    const size_t n = size * count;
    if (x->body.size() < 200) x->body.append(data, std::min(n, 200 - x->body.size()));
    return n;
}

int on_debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN) return 0;
    auto* x = static_cast<Exchange*>(user);
    x->replies.append(data, size);
    if (x->replies.size() > 600) x->replies.erase(0, x->replies.size() - 600);
    return 0;
}

int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* x = static_cast<const Exchange*>(user);
    return x->cancel != nullptr && x->cancel->load(std::memory_order_acquire) ? 1 : 0;
}

// The last non-empty reply line, without its line end.
std::string last_line(const std::string& replies) {
    std::string text = replies;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t cut = text.find_last_of('\n');
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

void common_options(CURL* h, Exchange& x, const std::string& ca_file,
                    const TransferLimits& limits) {
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, x.error);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.timeout.count()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.timeout.count()));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!ca_file.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, ca_file.c_str());
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);  // feeds on_debug; nothing is printed
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, on_debug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &x);
    x.cancel = limits.cancel;
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &x);
}

void mail_options(CURL* h, const MailSettings& mail, const std::string& url) {
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    if (mail.security == MailSecurity::kStartTls)
        curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    if (!mail.user.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, mail.user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, mail.password.c_str());
    }
}

TransferResult finish(CURL* h, CURLcode code, const Exchange& x, const char* operation) {
    TransferResult r;
    const std::string reply = last_line(x.replies);
    if (code == CURLE_OK) {
        r.ok = true;
        r.answer = reply;
        return r;
    }
    r.answer = std::string("[") + operation + "] " +
               (x.error[0] != '\0' ? x.error : curl_easy_strerror(code));
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (!reply.empty() && status >= 400) r.answer += " : " + reply;
    return r;
}

}  // namespace

bool mail_url(const MailSettings& mail, std::string& url, std::string& error) {
    std::string host;
    int port = 0;
    if (!split_mail_server(mail.server, host, port, error)) return false;
    if (port == 0) port = mail.port;
    if (port == 0) port = mail.security == MailSecurity::kTls ? 465 : 587;
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    const char* scheme = mail.security == MailSecurity::kTls ? "smtps://" : "smtp://";
    // The path is the name curl gives in EHLO.
    url = scheme + host + ":" + std::to_string(port) + "/" + helo_host_name();
    return true;
}

TransferResult send_mail_securely(const MailSettings& mail, const std::string& message,
                                  const TransferLimits& limits) {
    TransferResult r;
    std::string url;
    if (!mail_url(mail, url, r.answer)) return r;
    Easy h = new_easy();
    if (!h) return {false, "[send_mail] libcurl could not start"};
    Exchange x;
    x.upload = message;
    common_options(h.get(), x, mail.ca_file, limits);
    mail_options(h.get(), mail, url);
    const std::string from = "<" + mail.sender + ">";
    curl_easy_setopt(h.get(), CURLOPT_MAIL_FROM, from.c_str());
    List rcpt = append(nullptr, "<" + mail.recipient + ">");
    curl_easy_setopt(h.get(), CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(h.get(), CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h.get(), CURLOPT_READFUNCTION, read_upload);
    curl_easy_setopt(h.get(), CURLOPT_READDATA, &x);
    curl_easy_setopt(h.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(x.upload.size()));
    return finish(h.get(), curl_easy_perform(h.get()), x, "send_mail");
}

TransferResult check_mail_session(const MailSettings& mail, const TransferLimits& limits) {
    TransferResult r;
    std::string url;
    if (!mail_url(mail, url, r.answer)) return r;
    Easy h = new_easy();
    if (!h) return {false, "[check] libcurl could not start"};
    Exchange x;
    common_options(h.get(), x, mail.ca_file, limits);
    mail_options(h.get(), mail, url);
    // NOOP after the session is set up: the greeting, EHLO, STARTTLS and AUTH must all
    // have been accepted for curl to get that far, and no message is offered.
    curl_easy_setopt(h.get(), CURLOPT_CUSTOMREQUEST, "NOOP");
    curl_easy_setopt(h.get(), CURLOPT_NOBODY, 1L);
    return finish(h.get(), curl_easy_perform(h.get()), x, "check");
}

TransferResult post_json(const std::string& url, const std::string& ca_file,
                         const std::string& title, const std::string& json,
                         const TransferLimits& limits) {
    Easy h = new_easy();
    if (!h) return {false, "[webhook] libcurl could not start"};
    Exchange x;
    common_options(h.get(), x, ca_file, limits);
    curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(h.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h.get(), CURLOPT_POSTFIELDS, json.c_str());
    curl_easy_setopt(h.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(json.size()));
    List headers = append(nullptr, "Content-Type: application/json");
    headers = append(std::move(headers), "Title: " + title);
    curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, keep_body);
    curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &x);
    const CURLcode code = curl_easy_perform(h.get());
    long status = 0;
    curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &status);
    TransferResult r;
    if (code != CURLE_OK) return finish(h.get(), code, x, "webhook");
    r.answer = "HTTP " + std::to_string(status) + (x.body.empty() ? "" : " " + x.body);
    while (!r.answer.empty() && (r.answer.back() == '\n' || r.answer.back() == '\r'))
        r.answer.pop_back();
    r.ok = status >= 200 && status < 300;
    if (!r.ok) r.answer = "[webhook] refused : " + r.answer;
    return r;
}

}  // namespace zelvik::report
