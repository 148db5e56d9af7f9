#include "mailtext/IdMessageHelpers.h"
#include "mailtext/SmtpClient.h"
#include "model/cvSetup.h"

void ComposeMail(mailtext::Mail& mail, const TcvContact& contact, const TcvMessage& message,
                 const TcvAccount* account, const std::string& subject, const std::string& plainBody,
                 const std::string& htmlBody) {
    mailtext::OutgoingMail fields;
    fields.ToName = contact.FullName();
    fields.ToAddress = contact.Email;
    fields.Subject = subject;
    fields.PlainBody = plainBody;
    fields.HtmlBody = htmlBody;
    fields.From = message.GetSender();
    fields.ReplyTo = account && !account->ReplyTo.empty() ? account->ReplyTo : fields.From;
    fields.Priority = message.Priority;
    fields.Receipt = message.Receipt;
    // The list the contact is on; a contact not yet in a group (a test mail) takes the message's.
    if (const TcvGroup* group = contact.Group ? contact.Group : message.Group)
        fields.UnsubscribeAddress = group->UnsubscribeAddress;
    mailtext::FillOutgoingMail(mail, fields);
}

mailtext::SmtpSettings SmtpSettingsOf(const TcvAccount& account) {
    mailtext::SmtpSettings settings;
    settings.Host = account.ServerName;
    settings.Port = account.PortSmtp;
    settings.UserName = account.UserName;
    settings.Password = account.Password;
    settings.Authentication = account.Authentication == TcvAuthentication::Login
                                  ? mailtext::SmtpAuthentication::Login
                                  : mailtext::SmtpAuthentication::None;
    settings.Tls.Security = mailtext::MailSecurityFromInt(account.SecuritySmtp);
    settings.Tls.TrustedCertificate = account.TrustedCertificate;
    return settings;
}

void TcvAccount::SendMail(const mailtext::Mail& mail) const { mailtext::SendOneMail(SmtpSettingsOf(*this), mail); }
