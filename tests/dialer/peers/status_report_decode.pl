#!/usr/bin/perl
# Decodes SMS-STATUS-REPORTs as a modem hands them on (pairs of arguments:
# the length +CDS announced, then the PDU in hex, SMSC field first) with
# Debian's Device::Gsm::Sms, printing one JSON line per report:
# {"type", "mr", "recipient", "status"}, or {"error": 1} when it is refused.
use strict;
use warnings;
use JSON::PP;
use Device::Gsm::Sms;

my $json = JSON::PP->new->ascii->canonical;
while (@ARGV >= 2) {
    my ($length, $pdu) = (shift @ARGV, shift @ARGV);
    my $sms = Device::Gsm::Sms->new(header => "+CDS: $length", pdu => $pdu);
    if (!$sms) {
        print $json->encode({error => 1}), "\n";
        next;
    }
    print $json->encode({
        type      => $sms->type(),
        mr        => $sms->message_reference(),
        recipient => $sms->recipient(),
        status    => $sms->delivery_status(),
    }), "\n";
}
