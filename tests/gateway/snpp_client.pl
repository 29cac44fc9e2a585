#!/usr/bin/perl
# Sends one page through Debian's Net::SNPP client.
# usage: snpp_client.pl PORT PAGER[,PAGER...] MESSAGE
# Prints "SENT", or "REFUSED <code> <message>" and exits 3.
use strict;
use warnings;
use Net::SNPP;

my ($port, $pagers, $message) = @ARGV;
my $snpp = Net::SNPP->new('127.0.0.1', Port => $port, Timeout => 20)
    or die "cannot connect to port $port\n";
if ($snpp->send(Pager => [split /,/, $pagers], Message => $message)) {
    print "SENT\n";
    $snpp->quit;
    exit 0;
}
print 'REFUSED ', $snpp->code, ' ', $snpp->message;
$snpp->quit;
exit 3;
