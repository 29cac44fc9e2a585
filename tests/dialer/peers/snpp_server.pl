#!/usr/bin/perl
# An SNPP server built on Debian's Net::SNPP::Server, for the dialer's
# tests: listens on an ephemeral loopback port, prints "port N", and
# appends each page it takes to FILE as a JSON line {"pin", "text"}.
# With DROP_AFTER=K it drops the connection at the SEND after K pages.
# With SNPP_REFUSE=PIN in the environment, the SEND of a page for that
# pager ID is refused (the server's "554 Error, failed"), and each refusal
# is appended to FILE as {"refused": PIN}.
use strict;
use warnings;
use IO::Handle;
use JSON::PP;
use Net::SNPP::Server;
use Socket qw(sockaddr_in);

my ($out, $drop_after) = @ARGV;
die "usage: snpp_server.pl FILE [DROP_AFTER]\n" unless defined $out;
$SIG{PIPE} = 'IGNORE';

my $server = Net::SNPP::Server->new(Port => 0);
my ($port) = sockaddr_in(getsockname($server->socket()));
STDOUT->autoflush(1);
print "port $port\n";

my $pages = 0;
my $client;
$server->callback('write_log', sub { });
$server->callback(
    'process_page',
    sub {
        my ($pager, $page, $results) = @_;
        if (defined $drop_after && $pages >= $drop_after) {
            $client->shutdown(2);
            return 0;
        }
        if (defined $ENV{SNPP_REFUSE} && $pager->[0] eq $ENV{SNPP_REFUSE}) {
            open(my $fh, '>>', $out) or die "cannot append to $out: $!";
            print $fh JSON::PP->new->ascii->canonical->encode({ refused => $pager->[0] }), "\n";
            close($fh);
            return 0;
        }
        $pages++;
        open(my $fh, '>>', $out) or die "cannot append to $out: $!";
        print $fh JSON::PP->new->ascii->canonical->encode(
            { pin => $pager->[0], text => $page->{mess} }), "\n";
        close($fh);
        push(@$results, [ $pager, $page ]);
        return 1;
    });

while (1) {
    $client = $server->client();
    $server->handle_client($client);
    close($client);
}
