#pragma once
// Paths and texts shared by every console source.

#include <QString>

static const QString LOG_FILE = QStringLiteral("/var/log/pxe_client.log");
static const QString DBG_FILE = QStringLiteral("/tmp/client_progress.log");
static const QString GUI_VERSION = QStringLiteral("1.0.0.6");
static const QString SERVER_IP_FILE = QStringLiteral("/tmp/serverip");
static const QString SERVER_LIST_FILE = QStringLiteral("/tmp/serverList.txt");
static const QString SERVER_ALT_LIST_FILE = QStringLiteral("/tmp/alt_serverips");
static const QString RCV_PID = QStringLiteral("/var/log/rcv_pid");

// The engine's status files, which the manager dialog and the test bench show.
static const QString RCV_STATUS_FILE = QStringLiteral("/var/log/rcv_status");
static const QString RCV_TASK_FILE = QStringLiteral("/var/log/rcv_task");
