#!/usr/bin/perl
# An SMS centre for the dialer's tests on Debian's Net::SMPP: listens on an
# ephemeral loopback port, prints "port N", serves one session after the
# other and appends what it sees to LOG as JSON lines ("event": bind,
# submit, enquire_link, enquire_link_resp, deliver_sm_resp, unbind, nack).
#
#   smsc.pl [--user U --password P] [--hold N] [--delay S] [--ping]
#           [--quiet] [--late ID:STAT:ERR,...] [--fail N:HOW] [--reverse] LOG
#
# --user/--password: the bind's credentials (else any bind is taken).
# --hold N: submits are answered once N await their replies, or after a
#   quiet 0.3 s; the log's "outstanding" says how many awaited at once.
# --delay S: every submit_sm_resp waits S seconds.
# --ping: right after a bind the centre sends enquire_link and an unknown
#   command (0x00000777), expecting enquire_link_resp and generic_nack.
# --quiet: no receipts in the submitting session.
# --late: receipts sent to a receiver (bind_receiver) as soon as it binds.
# --fail N:HOW: the first submit of part N of a concatenated text (its user
#   data header's sequence number) over the centre's life is answered
#   ESME_RTHROTTLED (HOW "throttle") or ESME_RSYSERR ("syserr"), or the
#   connection closes without a reply ("drop").
# --reverse: submits awaiting their replies are answered newest first.
# Replies by destination: 999... ESME_RINVDSTADR, 888... ESME_RTHROTTLED,
# 777... ESME_RSYSERR, 666... the connection closes without a reply, 444...
# a generic_nack; else ESME_ROK with message_id "mN". A transceiver bound
# with registered delivery gets a receipt for each taken submit: stat
# DELIVRD, or UNDELIV err:001 for 555... destinations.
use strict;
use warnings;
use IO::Select;
use JSON::PP;
use Net::SMPP;
use Time::HiRes qw(sleep);

my %opt = (hold => 1, delay => 0, ping => 0, quiet => 0, late => '', fail => '', reverse => 0);
while (@ARGV && $ARGV[0] =~ /^--(\w+)/) {
    my $k = $1;
    shift @ARGV;
    $opt{$k} = ($k eq 'ping' || $k eq 'quiet' || $k eq 'reverse') ? 1 : shift @ARGV;
}
my $log = shift @ARGV or die "usage: smsc.pl [options] LOG\n";
$| = 1;

sub record {
    my %e = @_;
    open my $f, '>>', $log or die;
    print $f JSON::PP->new->canonical->encode(\%e), "\n";
    close $f;
}

my $listen = Net::SMPP->new_listen('127.0.0.1', port => 0) or die "listen: $!";
print "port ", $listen->sockport, "\n";
my $ids = 0;
my ($failPart, $failHow) = split /:/, $opt{fail};
my %failed;    # parts already failed once

while (my $c = $listen->accept) {
    my $sel = IO::Select->new($c);
    my ($transceiver, @waiting, $max) = (0);
    $max = 0;
    my $answer = sub {
        for my $p ($opt{reverse} ? reverse @waiting : @waiting) {
            sleep $opt{delay} if $opt{delay};
            my $dest = $p->{destination_addr};
            my $part = ($p->{esm_class} & 0x40) ? ord(substr($p->{short_message}, 5, 1)) : 0;
            my $failNow = $failPart && $part == $failPart && !$failed{$part}++;
            if ($dest =~ /^666/ || ($failNow && $failHow eq 'drop')) { close $c; return 0; }
            if ($dest =~ /^444/) {
                $c->generic_nack(seq => $p->{seq}, status => 0x08);
                next;
            }
            my $status = $dest =~ /^999/ ? 0x0B : $dest =~ /^888/ ? 0x58
                       : $dest =~ /^777/ ? 0x08 : 0;
            $status = $failHow eq 'syserr' ? 0x08 : 0x58 if $failNow;
            my $id = $status ? '' : 'm' . ++$ids;
            $c->submit_sm_resp(seq => $p->{seq}, status => $status, message_id => $id);
            if (!$status && $transceiver && !$opt{quiet} && ($p->{registered_delivery} & 1)) {
                my $fail = $dest =~ /^555/;
                my $stat = $fail ? 'UNDELIV' : 'DELIVRD';
                my $err = $fail ? '001' : '000';
                $c->deliver_sm(source_addr => $dest, destination_addr => $p->{source_addr},
                               esm_class => 0x04, async => 1,
                               short_message => "id:$id sub:001 dlvrd:" . ($fail ? '000' : '001')
                                   . " submit date:2601010000 done date:2601010001"
                                   . " stat:$stat err:$err text:");
            }
        }
        @waiting = ();
        return 1;
    };
    SESSION: while (1) {
        if (@waiting && !$sel->can_read(0.3)) {
            last SESSION unless $answer->();
            next;
        }
        my $p = $c->read_pdu() or last;
        my $cmd = $p->{cmd};
        warn sprintf("peer got %08x seq %d\n", $cmd, $p->{seq}) if $ENV{SMSC_DEBUG};
        if ($cmd == 0x00000001) {
            record(event => 'bind', type => 'receiver', system_id => $p->{system_id},
                   ok => JSON::PP::true);
            $c->bind_receiver_resp(seq => $p->{seq}, system_id => 'smsc');
            for my $late (split /,/, $opt{late}) {
                my ($id, $stat, $err) = split /:/, $late;
                $c->deliver_sm(source_addr => '4915112345678', destination_addr => 'VANTREL',
                               esm_class => 0x04, async => 1,
                               short_message => "id:$id sub:001 dlvrd:000 submit date:2601010000"
                                   . " done date:2601010001 stat:$stat err:$err text:");
            }
        } elsif ($cmd == 0x00000002 || $cmd == 0x00000009) {
            $transceiver = $cmd == 0x00000009;
            my $ok = !defined $opt{user}
                || ($p->{system_id} eq $opt{user} && $p->{password} eq $opt{password});
            record(event => 'bind', type => $transceiver ? 'transceiver' : 'transmitter',
                   system_id => $p->{system_id}, ok => $ok ? JSON::PP::true : JSON::PP::false);
            my $resp = $transceiver ? 'bind_transceiver_resp' : 'bind_transmitter_resp';
            $c->$resp(seq => $p->{seq}, status => $ok ? 0 : 0x0E, system_id => 'smsc');
            if ($ok && $opt{ping}) {
                $c->req_backend(0x00000015, '', $c, async => 1);
                $c->req_backend(0x00000777, '', $c, async => 1);
            }
        } elsif ($cmd == 0x00000004) {
            push @waiting, $p;
            $max = @waiting if @waiting > $max;
            record(event => 'submit', dest => $p->{destination_addr},
                   dest_ton => $p->{dest_addr_ton}, dest_npi => $p->{dest_addr_npi},
                   source => $p->{source_addr}, esm_class => $p->{esm_class},
                   data_coding => $p->{data_coding},
                   registered_delivery => $p->{registered_delivery},
                   message => unpack('H*', $p->{short_message}), outstanding => $max);
            last SESSION if @waiting >= $opt{hold} && !$answer->();
        } elsif ($cmd == 0x00000015) {
            record(event => 'enquire_link');
            $c->enquire_link_resp(seq => $p->{seq});
        } elsif ($cmd == 0x80000015) {
            record(event => 'enquire_link_resp');
        } elsif ($cmd == 0x80000000) {
            record(event => 'nack', status => $p->{status}, seq => $p->{seq});
        } elsif ($cmd == 0x80000005) {
            record(event => 'deliver_sm_resp', status => $p->{status});
        } elsif ($cmd == 0x00000006) {
            $answer->() if @waiting;
            record(event => 'unbind');
            $c->unbind_resp(seq => $p->{seq});
            last;
        }
    }
    close $c;
}
