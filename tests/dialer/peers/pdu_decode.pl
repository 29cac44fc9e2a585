#!/usr/bin/perl
# Decodes SMS-SUBMIT PDUs (one hex string per argument, SMSC field first)
# with Debian's Device::Gsm::Pdu and Device::Gsm::Charset, printing one
# JSON line per PDU: {"number", "coding", "text", "ref", "total", "seq"}.
use strict;
use warnings;
use JSON::PP;
use Device::Gsm::Pdu;
use Device::Gsm::Charset;

my $json = JSON::PP->new->ascii->canonical;
for my $pdu (@ARGV) {
    my $p = 0;
    my $take = sub { my $n = shift; my $s = substr($pdu, $p, $n); $p += $n; return $s; };
    my $smsc = hex($take->(2));
    $take->(2 * $smsc);
    my $first = hex($take->(2));
    $take->(2);    # message reference
    my $digits = hex(substr($pdu, $p, 2));
    my $address = $take->(4 + 2 * int(($digits + 1) / 2));
    my $number = Device::Gsm::Pdu::decode_address($address);
    $take->(2);    # protocol identifier
    my $dcs = hex($take->(2));
    my $vpf = ($first >> 3) & 3;
    $take->($vpf == 2 ? 2 : $vpf ? 14 : 0);
    my $udl_hex = substr($pdu, $p, 2);
    my $ud = substr($pdu, $p + 2);
    my ($ref, $total, $seq, $header_octets) = (-1, 1, 1, 0);
    if ($first & 0x40) {
        $header_octets = hex(substr($ud, 0, 2)) + 1;
        my $udh = substr($ud, 2, 2 * ($header_octets - 1));
        if ($udh =~ /^0003(..)(..)(..)/) {
            ($ref, $total, $seq) = (hex($1), hex($2), hex($3));
        }
    }
    my ($coding, $text);
    if (($dcs & 0x0C) == 0x08) {
        $coding = 'ucs2';
        my $body = substr($ud, 2 * $header_octets);
        $text = Device::Gsm::Pdu::decode_text_UCS2(sprintf('%02X', length($body) / 2) . $body);
        $text = '' unless defined $text;
        utf8::decode($text);    # the module returns UTF-8 bytes
    } else {
        $coding = 'gsm7';
        my $septets = $header_octets
            ? Device::Gsm::Pdu::decode_text7_udh($udl_hex . $ud, 7 * int(($header_octets * 8 + 6) / 7))
            : Device::Gsm::Pdu::decode_text7($udl_hex . $ud);
        $text = Device::Gsm::Charset::gsm0338_to_iso8859($septets);
    }
    print $json->encode({ number => $number, coding => $coding, text => $text,
                          ref => $ref, total => $total, seq => $seq }), "\n";
}
