#pragma once
// Waiting limits of the mail layer's network calls. Every connect and every wait for a reply is
// bounded, so a server that stops answering ends in EMailTimeout rather than a hang.
namespace mailtext {

struct NetTimeouts {
    // Establishing the TCP connection.
    int ConnectMs = 20000;
    // Each whole reply: all its lines, and for POP3 the mail or list that follows, must have
    // arrived within this time however slowly the bytes trickle in. Also each blocked send.
    int ReplyMs = 60000;
};

}  // namespace mailtext
