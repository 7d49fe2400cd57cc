#pragma once

// The main window's receive command (32771): opens the receive window and starts a download. The
// window, if open, is closed (its thread ended) when the main window is destroyed.

class CMainFrame;
class ReceiveCommand;

ReceiveCommand* installMailReceiveCommand(CMainFrame& frame);
