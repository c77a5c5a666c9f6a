// The SECURITY words of the MAIL section.
#include "report/mail_settings.h"

#include "common/text.h"

namespace zelvik::report {

bool parse_mail_security(std::string_view text, MailSecurity& out) {
    const std::string_view t = common::trim(text);
    if (t.empty() || common::iequals(t, "none")) {
        out = MailSecurity::kNone;
    } else if (common::iequals(t, "starttls")) {
        out = MailSecurity::kStartTls;
    } else if (common::iequals(t, "tls")) {
        out = MailSecurity::kTls;
    } else {
        return false;
    }
    return true;
}

const char* to_string(MailSecurity security) {
    switch (security) {
        case MailSecurity::kStartTls:
            return "starttls";
        case MailSecurity::kTls:
            return "tls";
        case MailSecurity::kNone:
            break;
    }
    return "none";
}

}  // namespace zelvik::report
